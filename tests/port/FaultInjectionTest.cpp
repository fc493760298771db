// Every fault the simulator can inject, as the host sees it through the
// driver and the real port service; afterwards the line works again.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "SimulatedLine.h"
#include "port/PortErrors.h"
#include "support/WireUnits.h"
#include "zarvik/exceptions.h"

// This file's helpers in a namespace of their own: the unity build compiles it with
// the layer's other test files, where names such as kLine recur.
namespace zarvik::testing::fault_injection {
namespace {

constexpr int kLine = SimulatedLine::kLine;
constexpr std::uint32_t kTotal = 123456;  // thousandths: 123.456 L

// The operation a fault case runs.
using Operation = std::function<void(SimulatedLine&)>;

void PollNozzle(SimulatedLine& s) {
    TDispenserStatus st{};
    s.driver().GetDispenserStatus(kLine, 1, 1, st);
}
void ReadTotal(SimulatedLine& s) {
    double total = 0;
    s.driver().ReadNozzleTotal(kLine, 1, 1, total, 0, 0, 0);
}
void Start(SimulatedLine& s) {
    s.driver().SetVolumeDose(kLine, 1, 1, 0, 5.0);
    s.driver().StartNozzle(kLine, 1, 1, 0);
}
void Stop(SimulatedLine& s) { s.driver().StopNozzle(kLine, 1, 1, 1); }
void Write(SimulatedLine& s) { s.driver().WriteParameter(kLine, 1, 1010101, 1); }

struct FaultCase {
    sim::FaultMode mode;
    Operation operation;
    bool raises;                    // ESerialIO reaches the host
    std::uint8_t lineResult;        // when it does not raise
    std::set<std::int32_t> errors;  // the line error the host can read
};

TEST(FaultInjection, EachModeGivesItsOutcomeAndTheNextExchangeIsGood) {
    const FaultCase cases[] = {
        {sim::FaultMode::kDropReply, PollNozzle, true, 0, {port::kErrorTimeout}},
        {sim::FaultMode::kBadChecksum, PollNozzle, false, 3, {kReplyBadChecksum}},
        {sim::FaultMode::kWrongLength, PollNozzle, false, 3, {kReplyBadLength}},
        {sim::FaultMode::kWrongStart, PollNozzle, false, 3, {kReplyBadStart}},
        {sim::FaultMode::kTruncate, PollNozzle, false, 3, {kReplyBadLength}},
        // Noise bytes shift the frame: byte 3 is then noise, so the length
        // or (when the noise happens to fit) the start byte fails.
        {sim::FaultMode::kNoise, PollNozzle, false, 3, {kReplyBadLength, kReplyBadStart}},
        {sim::FaultMode::kDelay, PollNozzle, true, 0, {port::kErrorTimeout}},
        {sim::FaultMode::kRefuseStart, Start, false, 10, {port::kErrorRefused}},
        {sim::FaultMode::kRefuseStop, Stop, false, 14, {port::kErrorRefused}},
        {sim::FaultMode::kRefuseWrite, Write, false, 3, {port::kErrorRefused}},
    };
    for (const auto& c : cases) {
        const std::string name(sim::FaultName(c.mode));
        // The refused stop leaves its delivery authorised: with the nozzle
        // never lifted the total stays put however slow the machine is.
        sim::StationConfig station = QuickStation();
        station.autoNozzle = c.mode != sim::FaultMode::kRefuseStop;
        SimulatedLine s(0, station);
        s.station().SetTotal(1, 1, kTotal);
        // Late enough to miss the response deadline and the drain after it.
        s.station().SetFaultDelay(QuickSettings().response + QuickSettings().drainQuiet * 2);
        // A line in service has had good exchanges before the fault.
        ReadTotal(s);
        if (c.mode == sim::FaultMode::kRefuseStop) Start(s);
        s.station().SetFaultNext(c.mode, 1);

        bool raised = false;
        try {
            c.operation(s);
        } catch (const ESerialIO&) {
            raised = true;
        }
        EXPECT_EQ(raised, c.raises) << name;
        if (!c.raises) {
            EXPECT_EQ(s.lineResult(), c.lineResult) << name;
        }
        EXPECT_TRUE(c.errors.count(s.lineError()) == 1) << name << ": line error " << s.lineError();

        // The next exchanges see no stale bytes: good replies, right values.
        for (int i = 0; i < 3; ++i) {
            double total = -1;
            s.driver().ReadNozzleTotal(kLine, 1, 1, total, 0, 0, 0);
            EXPECT_EQ(s.lineResult(), 1) << name << " after " << i;
            EXPECT_EQ(Thousandths(total), kTotal) << name << " after " << i;
        }
        const auto stats = s.port().Statistics(kLine);
        EXPECT_EQ(stats.exchanges, stats.good + stats.bad) << name;
    }
}

// Each damage fault at a 10 % rate over 1000 total readings: how the
// exchanges end, and that no wrong total is ever taken as good.
TEST(FaultInjection, Matrix_TenPercentOverThousandExchanges) {
    constexpr int kExchanges = 1000;
    const sim::FaultMode modes[] = {sim::FaultMode::kDropReply,   sim::FaultMode::kBadChecksum,
                                    sim::FaultMode::kWrongLength, sim::FaultMode::kWrongStart,
                                    sim::FaultMode::kTruncate,    sim::FaultMode::kNoise,
                                    sim::FaultMode::kDelay};
    port::LineSettings fast;
    // Unpaced replies take well under a millisecond; a slow one under a
    // sanitizer only turns into a counted timeout, never into a wrong value.
    fast.response = std::chrono::milliseconds(12);
    fast.interByte = std::chrono::milliseconds(6);
    fast.drainQuiet = std::chrono::milliseconds(6);

    std::printf("%-12s %6s %6s %6s %6s %6s %9s %8s %6s %8s\n", "fault", "good", "222", "223", "246", "other",
                "ESerialIO", "injected", "wrong", "seconds");
    for (const auto mode : modes) {
        SimulatedLine s;
        s.port().SetSettings(kLine, fast);
        s.station().SetTotal(1, 1, kTotal);
        s.station().SetFaultDelay(std::chrono::milliseconds(24));
        s.station().SetFaultRate(mode, 0.10, 7);
        const auto began = std::chrono::steady_clock::now();
        std::map<std::int32_t, int> bad;
        int good = 0, raised = 0, wrong = 0;
        for (int i = 0; i < kExchanges; ++i) {
            double total = -1;
            try {
                s.driver().ReadNozzleTotal(kLine, 1, 1, total, 0, 0, 0);
            } catch (const ESerialIO&) {
                ++raised;
                continue;
            }
            if (s.lineResult() == 1) {
                ++good;
                if (Thousandths(total) != kTotal) ++wrong;
            } else {
                ++bad[s.lineError()];
            }
        }
        const int other =
            kExchanges - good - raised - bad[kReplyBadChecksum] - bad[kReplyBadStart] - bad[kReplyBadLength];
        std::printf("%-12s %6d %6d %6d %6d %6d %9d %8llu %6d %8.1f\n", std::string(sim::FaultName(mode)).c_str(), good,
                    bad[kReplyBadChecksum], bad[kReplyBadStart], bad[kReplyBadLength], other, raised,
                    static_cast<unsigned long long>(s.station().Stats().faults), wrong,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        EXPECT_EQ(wrong, 0) << sim::FaultName(mode);
        EXPECT_GT(good, 0) << sim::FaultName(mode);
        EXPECT_EQ(other, 0) << sim::FaultName(mode);
    }
}

}  // namespace
}  // namespace zarvik::testing::fault_injection
