// Replies that are well formed but do not answer their request (a copy of
// the last reply, another nozzle's, command's or address's, our own request
// read back) and replies that refuse: through the driver and the real port
// service, from a line's first exchange on, the far end a simulated station.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "FarEnd.h"
#include "SimulatedLine.h"
#include "library/DriverObject.h"
#include "zarvik/exceptions.h"

#if !defined(_WIN32)
#include "sim/SerialEndpoint.h"
#endif

// This file's helpers in a namespace of their own: the unity build compiles it with
// the layer's other test files, where names such as kLine recur.
namespace zarvik::testing::reply_match {
namespace {

constexpr int kLine = SimulatedLine::kLine;

std::uint32_t TotalOf(int nozzle) { return 100000u * static_cast<std::uint32_t>(nozzle) + 222u; }

// A station paced at 9600 baud, so a copy sent after a reply is still on
// the wire when the next request goes out.
struct PacedLine {
    explicit PacedLine(port::LineSettings settings = QuickSettings())
        : station(QuickStation()), farEnd(station, /*pacing*/ true), port(farEnd.Devices()) {
        port.SetDevice(kLine, farEnd.Device());
        port.SetSettings(kLine, settings);
        driver.reset(CreateDriver(0, 0, &port));
        driver->OpenPort(kLine);
        for (int k = 1; k <= 3; ++k) station.SetTotal(1, k, TotalOf(k));
    }
    ~PacedLine() {
        port.CloseLine(kLine);
        farEnd.Stop();
    }

    sim::Station station;
    FarEnd farEnd;
    port::SerialPortManager port;
    std::unique_ptr<TVM30> driver;
};

struct Tally {
    int good = 0;
    int wrong = 0;
};

// Totals of nozzles 1..3 in turn: a good one with another nozzle's value is wrong.
Tally ReadTotals(TVM30& driver, int reads) {
    Tally t;
    for (int i = 0; i < reads; ++i) {
        const int nozzle = 1 + i % 3;
        double total = -1;
        try {
            driver.ReadNozzleTotal(kLine, 1, nozzle, total, 0, 0, 0);
        } catch (const ESerialIO&) {
            continue;
        }
        if (driver.GetLineResult(kLine) != 1) continue;
        ++t.good;
        // In thousandths, as the wire carried it: exact on any floating-point unit.
        if (std::llround(total * 1000) != TotalOf(nozzle)) ++t.wrong;
    }
    return t;
}

TEST(ReplyMatch, ReplyThatDoesNotAnswer_NeverTakenFromTheFirstExchange) {
    struct Case {
        sim::FaultMode mode;
        bool echoes;   // the dispenser echoes the sequence number
        bool allGood;  // the real reply follows the one that does not answer
    };
    using sim::FaultMode;
    const Case cases[] = {
        {FaultMode::kDuplicate, true, true},     {FaultMode::kDuplicate, false, true},
        {FaultMode::kLocalEcho, true, true},     {FaultMode::kLocalEcho, false, true},
        {FaultMode::kOtherNozzle, true, false},  {FaultMode::kOtherNozzle, false, false},
        {FaultMode::kOtherCommand, true, false}, {FaultMode::kOtherAddress, true, false},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(sim::FaultName(c.mode)) + (c.echoes ? "" : ", never echoes");
        PacedLine line;
        line.station.SetNeverEchoes(!c.echoes);
        line.station.SetFaultRate(c.mode, 1.0, 5);
        const int reads = c.allGood ? 6 : 3;
        const Tally t = ReadTotals(*line.driver, reads);
        EXPECT_EQ(t.wrong, 0) << name;
        if (c.allGood) {
            EXPECT_EQ(t.good, reads) << name;
        }
        const auto st = line.port.Statistics(kLine);
        // Dropped whole, or (a copy caught arriving before the request) thrown away.
        EXPECT_GT(st.mismatchedReplies + st.duplicateReplies + st.localEchoes + st.bytesDiscarded, 0u) << name;
    }
}

// Byte 5 of a reply that carries the request's command is its result: a
// refusal leaves no value, for every command.
TEST(ReplyMatch, RefusedReply_NoValueReachesTheCaller) {
    using Operation = void (*)(TVM30&, double&);
    struct Case {
        const char* name;
        Operation operation;
        std::uint8_t lineResult;
    };
    const Case cases[] = {
        {"total", [](TVM30& d, double& v) { d.ReadNozzleTotal(kLine, 1, 1, v, 0, 0, 0); }, 4},
        {"status",
         [](TVM30& d, double& v) {
             TDispenserStatus st{};
             d.GetDispenserStatus(kLine, 1, 1, st);
             if (d.GetLineResult(kLine) == 1) v = st.State;
         },
         4},
        {"param-read",
         [](TVM30& d, double& v) {
             const std::int32_t value = d.ReadParameter(kLine, 1, 1030101);
             if (d.GetLineResult(kLine) == 1) v = value;
         },
         4},
        {"dose-litres", [](TVM30& d, double&) { d.SetVolumeDose(kLine, 1, 1, 0, 2.0); }, 4},
        {"price", [](TVM30& d, double&) { d.SetNozzlePrice(kLine, 1, 1, 0, 0, 50.0); }, 4},
        {"start", [](TVM30& d, double&) { d.StartNozzle(kLine, 1, 1, 0); }, 10},
        {"stop", [](TVM30& d, double&) { d.StopNozzle(kLine, 1, 1, 1); }, 14},
    };
    for (const Case& c : cases) {
        SimulatedLine s;
        s.station().SetTotal(1, 1, TotalOf(1));
        s.station().SetFaultNext(sim::FaultMode::kRefuseAny, 1);
        double value = -1;
        c.operation(s.driver(), value);
        EXPECT_EQ(s.lineResult(), c.lineResult) << c.name;
        EXPECT_EQ(value, -1) << c.name << ": the refusal's zeroed value was taken";
        EXPECT_EQ(s.port().Statistics(kLine).refusals, 1u) << c.name;
    }
}

// The station's own refusals: a nozzle that is not there, a dose while the
// nozzle delivers.
TEST(ReplyMatch, DispenserRefuses_LineResultFourNotGood) {
    SimulatedLine s;
    double total = -1;
    s.driver().ReadNozzleTotal(kLine, 1, 4, total, 0, 0, 0);  // three nozzles
    EXPECT_EQ(s.lineResult(), 4);
    EXPECT_EQ(total, -1);
    s.driver().SetVolumeDose(kLine, 1, 1, 0, 50.0);
    s.driver().StartNozzle(kLine, 1, 1, 0);
    ASSERT_EQ(s.lineResult(), 1);
    s.driver().SetVolumeDose(kLine, 1, 1, 0, 3.0);
    EXPECT_EQ(s.lineResult(), 4);
}

// A strict line falls back to lenient only when no reply ever answered.
TEST(ReplyMatch, LenientAfter_OnlyWhenNoReplyEverMatched) {
    for (const bool matchedBefore : {false, true}) {
        auto settings = QuickSettings();
        settings.lenientAfter = 3;
        SimulatedLine s;
        s.port().SetSettings(kLine, settings);
        if (matchedBefore) ReadTotals(s.driver(), 1);
        s.station().SetFaultRate(sim::FaultMode::kOtherCommand, 1.0, 2);
        ReadTotals(s.driver(), 5);
        const auto st = s.port().Statistics(kLine);
        EXPECT_EQ(st.fellBack, !matchedBefore) << matchedBefore;
        EXPECT_EQ(st.strict, matchedBefore) << matchedBefore;
    }
}

TEST(ReplyMatch, LocalEchoSetting_AutoAndOnSkipItOffLeavesItToTheMatch) {
    for (const port::LocalEcho echo : {port::LocalEcho::Auto, port::LocalEcho::On, port::LocalEcho::Off}) {
        const char* name = port::LocalEchoName(echo);
        auto settings = QuickSettings();
        settings.localEcho = echo;
        SimulatedLine s;
        s.port().SetSettings(kLine, settings);
        for (int k = 1; k <= 3; ++k) s.station().SetTotal(1, k, TotalOf(k));
        s.station().SetFaultRate(sim::FaultMode::kLocalEcho, 1.0, 2);
        const Tally t = ReadTotals(s.driver(), 3);
        EXPECT_EQ(t.wrong, 0) << name;
        const auto st = s.port().Statistics(kLine);
        EXPECT_STREQ(st.localEcho, name);
        // Off: the echo is no reply either; a strict line drops it as one
        // that does not repeat the nozzle byte.
        EXPECT_EQ(t.good, 3) << name;
        EXPECT_EQ(st.localEchoes, echo == port::LocalEcho::Off ? 0u : 3u) << name;
        EXPECT_EQ(st.mismatchedReplies, echo == port::LocalEcho::Off ? 3u : 0u) << name;
    }
}

#if !defined(_WIN32)
// A converter that echoes what it sends, with no dispenser behind it: the
// echo is no reply to any command (it used to pass for start, stop, doses and
// a parameter value built from the request's own bytes).
TEST(ReplyMatch, EchoingLineWithoutDispenser_NothingReportedGood) {
    sim::SerialEndpoint echo([](const std::uint8_t* frame, std::size_t length, sim::TimePoint) {
        return std::optional<sim::Reply>(sim::Reply{{frame, frame + length}});
    });
    const std::string path = echo.OpenPty();
    echo.Start();
    port::SerialPortManager port;
    port.SetDevice(kLine, path);
    auto settings = QuickSettings();
    for (const port::LocalEcho mode : {port::LocalEcho::Auto, port::LocalEcho::Off}) {
        settings.localEcho = mode;
        port.SetSettings(kLine, settings);
        std::unique_ptr<TVM30> driver(CreateDriver(0, 0, &port));
        ASSERT_EQ(driver->OpenPort(kLine), 0);
        const std::function<void()> operations[] = {
            [&] { driver->StartNozzle(kLine, 1, 1, 0); },        [&] { driver->StopNozzle(kLine, 1, 1, 1); },
            [&] { driver->SetVolumeDose(kLine, 1, 1, 0, 1.0); }, [&] { driver->SetMoneyDose(kLine, 1, 1, 0, 1.0); },
            [&] { driver->ReadParameter(kLine, 1, 1030101); },
        };
        for (std::size_t i = 0; i < std::size(operations); ++i) {
            bool raised = false;
            try {
                operations[i]();
            } catch (const ESerialIO&) {
                raised = true;
            }
            EXPECT_TRUE(raised || driver->GetLineResult(kLine) != 1)
                << port::LocalEchoName(mode) << ": operation " << i << " reported good";
        }
        port.CloseLine(kLine);
    }
    echo.Stop();
}
#endif

}  // namespace
}  // namespace zarvik::testing::reply_match
