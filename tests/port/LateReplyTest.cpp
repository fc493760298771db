// Late, foreign and never-echoed replies through the driver and the real
// port service, with the simulated dispenser on a pseudo-terminal as the far
// end: nothing that answers another request is ever taken as good, and no
// line is locked out.
#include <gtest/gtest.h>

#include <cmath>

#include "SimulatedLine.h"
#include "library/DriverObject.h"
#include "port/PortErrors.h"
#include "support/WireUnits.h"
#include "zarvik/exceptions.h"

// This file's helpers in a namespace of their own: the unity build compiles it with
// the layer's other test files, where names such as kLine recur.
namespace zarvik::testing::late_reply {
namespace {

constexpr int kLine = SimulatedLine::kLine;

// Thousandths of a litre, distinct per nozzle.
std::uint32_t TotalOf(int nozzle) { return 100000u * static_cast<std::uint32_t>(nozzle) + 111u; }

struct Read {
    bool raised = false;
    std::uint8_t lineResult = 0;
    double total = -1;
};

Read ReadTotal(SimulatedLine& s, int nozzle) {
    Read r;
    try {
        s.driver().ReadNozzleTotal(kLine, 1, nozzle, r.total, 0, 0, 0);
    } catch (const ESerialIO&) {
        r.raised = true;
    }
    r.lineResult = s.lineResult();
    return r;
}

void SetTotals(SimulatedLine& s) {
    for (int k = 1; k <= 3; ++k) s.station().SetTotal(1, k, TotalOf(k));
}

// Later than the response deadline and the drain after it: the reply lands
// in the next exchange.
std::chrono::milliseconds PastTheDrain() { return QuickSettings().response + QuickSettings().drainQuiet * 2; }

TEST(LateReply, FirstExchangeLate_ItsReplyIsNotTakenForTheNextNozzle) {
    SimulatedLine s;
    SetTotals(s);
    s.station().SetFaultDelay(PastTheDrain());
    s.station().SetFaultNext(sim::FaultMode::kDelay, 1);
    // Nothing learnt yet on this line: the very first reply comes late.
    EXPECT_TRUE(ReadTotal(s, 1).raised);
    const Read second = ReadTotal(s, 2);
    ASSERT_FALSE(second.raised);
    EXPECT_EQ(second.lineResult, 1);
    EXPECT_EQ(Thousandths(second.total), TotalOf(2)) << "nozzle 1's late total taken for nozzle 2";
    const auto stats = s.port().Statistics(kLine);
    EXPECT_EQ(stats.staleReplies, 1u);
    EXPECT_EQ(stats.exchanges, stats.good + stats.bad);
}

// A program gives the line up while the dispenser still owes it a reply; the
// next program on the device starts its sequence numbers where the first did,
// so the owed reply even carries the number of its first request.
TEST(LateReply, ReplyOwedToThePreviousProgram_IsNotTakenByTheNextOne) {
    SimulatedLine previous;
    SetTotals(previous);
    const auto settings = QuickSettings();
    // Later than the first program waits (its response time and the drain
    // after it), sooner than one response time after it let go.
    previous.station().SetFaultDelay(settings.response + settings.drainQuiet * 2 + settings.response / 3);
    previous.station().SetFaultNext(sim::FaultMode::kDelay, 1);
    EXPECT_TRUE(ReadTotal(previous, 1).raised);
    previous.port().CloseLine(kLine);

    port::SerialPortManager port(previous.Devices());
    port.SetDevice(kLine, previous.Path());
    port.SetSettings(kLine, settings);
    std::unique_ptr<TVM30> driver(CreateDriver(0, 0, &port));
    ASSERT_EQ(driver->OpenPort(kLine), 0);
    double total = -1;
    driver->ReadNozzleTotal(kLine, 1, 2, total, 0, 0, 0);
    EXPECT_EQ(driver->GetLineResult(kLine), 1);
    EXPECT_EQ(Thousandths(total), TotalOf(2)) << "nozzle 1's total, owed to the previous program";
    port.CloseLine(kLine);
}

TEST(LateReply, EveryReplyLate_NothingTakenThenTheLineRecovers) {
    SimulatedLine s;
    SetTotals(s);
    s.station().SetFaultDelay(PastTheDrain());
    s.station().SetFaultRate(sim::FaultMode::kDelay, 1.0, 3);
    for (int i = 0; i < 12; ++i) {
        const Read r = ReadTotal(s, 1 + i % 3);
        EXPECT_TRUE(r.raised || r.lineResult != 1) << "exchange " << i << " took a late reply: " << r.total;
    }
    EXPECT_GT(s.port().Statistics(kLine).staleReplies, 0u);
    s.station().ClearFaults();
    // The dispenser still owes replies; once it caught up every read is right.
    int good = 0;
    for (int i = 0; i < 40; ++i) {
        const Read r = ReadTotal(s, 1 + i % 3);
        if (r.raised || r.lineResult != 1) continue;
        EXPECT_EQ(Thousandths(r.total), TotalOf(1 + i % 3)) << "read " << i;
        ++good;
    }
    EXPECT_GT(good, 20);
}

TEST(LateReply, ForeignReplyOnALineThatEchoes_DroppedAndTheNextIsGood) {
    for (const sim::FaultMode mode : {sim::FaultMode::kOtherSequence, sim::FaultMode::kOtherAddress}) {
        const std::string name(sim::FaultName(mode));
        SimulatedLine s;
        SetTotals(s);
        for (int i = 0; i < 6; ++i) ASSERT_EQ(ReadTotal(s, 1).lineResult, 1) << name;
        const auto learnt = s.port().Statistics(kLine);
        EXPECT_EQ(learnt.sequenceEcho, port::Learnt::Yes) << name;
        EXPECT_EQ(learnt.addressEcho, port::Learnt::Yes) << name;
        s.station().SetFaultNext(mode, 1);
        const Read r = ReadTotal(s, 2);
        EXPECT_TRUE(r.raised) << name << ": a reply for another request or address was taken";
        EXPECT_EQ(s.lineError(), port::kErrorTimeout) << name;
        const Read next = ReadTotal(s, 3);
        EXPECT_EQ(next.lineResult, 1) << name;
        EXPECT_EQ(Thousandths(next.total), TotalOf(3)) << name;
        EXPECT_EQ(s.port().Statistics(kLine).foreignReplies, 1u) << name;
    }
}

// A dispenser that never echoes: with the fixed byte 0x00 the old filter
// locked the line out after one exchange, with 0x55 after 86.
TEST(LateReply, DispenserThatNeverEchoes_LineKeepsWorkingPastTheFixedByte) {
    for (const std::uint8_t fixed : {std::uint8_t{0x00}, std::uint8_t{0x55}}) {
        SimulatedLine s;
        SetTotals(s);
        s.station().SetFixedSequence(fixed);
        s.station().SetFaultRate(sim::FaultMode::kFixedSequence, 1.0, 1);
        int good = 0, wrong = 0;
        constexpr int kExchanges = 620;
        for (int i = 0; i < kExchanges; ++i) {
            const int nozzle = 1 + i % 3;
            const Read r = ReadTotal(s, nozzle);
            if (r.raised || r.lineResult != 1) continue;
            ++good;
            if (Thousandths(r.total) != TotalOf(nozzle)) ++wrong;
        }
        const auto stats = s.port().Statistics(kLine);
        EXPECT_EQ(wrong, 0) << int{fixed};
        EXPECT_GE(good, kExchanges - 3) << int{fixed};
        EXPECT_EQ(stats.sequenceEcho, port::Learnt::No) << int{fixed};
        EXPECT_FALSE(stats.filtering) << int{fixed};
    }
}

// A dispenser that never echoes answers late: past the response time and
// the drain after it, before one more response time. The next request waits
// until that reply has shown.
TEST(LateReply, NeverEchoes_ReplyLaterThanTheDrain_NotTakenForTheNextNozzle) {
    SimulatedLine s;
    SetTotals(s);
    s.station().SetNeverEchoes(true);
    for (int i = 0; i < 4; ++i) ReadTotal(s, 1 + i % 3);
    ASSERT_EQ(s.port().Statistics(kLine).sequenceEcho, port::Learnt::No);
    const auto settings = QuickSettings();
    s.station().SetFaultDelay(settings.response + settings.drainQuiet + settings.response / 3);
    s.station().SetFaultNext(sim::FaultMode::kDelay, 1);
    EXPECT_TRUE(ReadTotal(s, 1).raised);
    const Read next = ReadTotal(s, 2);
    EXPECT_EQ(next.lineResult, 1);
    EXPECT_EQ(std::llround(next.total * 1000), TotalOf(2)) << "nozzle 1's late total taken for nozzle 2";
}

}  // namespace
}  // namespace zarvik::testing::late_reply
