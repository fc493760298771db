// The exchange hook: one call at the end of every exchange, after its frames,
// carrying what WaitTransfer returns and what the line holds afterwards.
#include <gtest/gtest.h>

#include <vector>

#include "SimulatedLine.h"
#include "port/PortErrors.h"
#include "zarvik/exceptions.h"

// This file's helpers in a namespace of their own: the unity build compiles it with
// the layer's other test files, where names such as kLine recur.
namespace zarvik::testing::exchange_hook {
namespace {

constexpr int kLine = SimulatedLine::kLine;

// What the hooks saw, in order: 'S' sent, 'R' received, 'D' discarded, 'X' an outcome.
struct Seen {
    std::string order;
    std::vector<port::ExchangeOutcome> outcomes;
};

void Watch(port::SerialPortManager& port, Seen& seen) {
    port.SetTraceHook([&seen](const port::FrameTraceEvent& e) {
        seen.order += e.direction == port::FrameDirection::Sent       ? 'S'
                      : e.direction == port::FrameDirection::Received ? 'R'
                                                                      : 'D';
    });
    port.SetExchangeHook([&seen](const port::ExchangeOutcome& o) {
        seen.order += 'X';
        seen.outcomes.push_back(o);
    });
}

TEST(ExchangeHook, EachOutcomeOnceAfterItsFrames) {
    struct Case {
        const char* name;
        sim::FaultMode fault;
        const char* order;
        std::int32_t code;  // WaitTransfer's
        std::uint8_t state;
        std::int32_t error;
    };
    const Case cases[] = {
        {"good reply", sim::FaultMode::kNone, "SRX", 0, kLineStateGood, 0},
        {"bad checksum", sim::FaultMode::kBadChecksum, "SRX", 0, kLineStateBad, kReplyBadChecksum},
        {"no reply", sim::FaultMode::kDropReply, "SX", port::kErrorTimeout, kLineStateBad, port::kErrorTimeout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedLine s;
        Seen seen;
        Watch(s.port(), seen);
        if (c.fault != sim::FaultMode::kNone) s.station().SetFaultNext(c.fault, 1);
        TDispenserStatus st{};
        try {
            s.driver().GetDispenserStatus(kLine, 1, 1, st);
        } catch (const ESerialIO&) {
        }
        EXPECT_EQ(seen.order, c.order);
        ASSERT_EQ(seen.outcomes.size(), 1u);
        EXPECT_EQ(seen.outcomes[0].line, kLine);
        EXPECT_EQ(seen.outcomes[0].code, c.code);
        EXPECT_EQ(seen.outcomes[0].state, c.state);
        if (c.state != kLineStateGood) {
            EXPECT_EQ(seen.outcomes[0].error, c.error);
        }
    }
}

TEST(ExchangeHook, AnExchangeThatSendsNothingHasItsOutcomeToo) {
    port::SerialPortManager port;
    Seen seen;
    Watch(port, seen);
    port.SetDevice(2, "/nonexistent/tty");
    const std::uint8_t frame[] = {0x02, 0x00, 0x01, 0x02, 0x9F, 0x00, 0x9C};
    std::uint8_t reply[35];
    EXPECT_EQ(port.WaitTransfer(port.StartTransfer(2, 2, frame, sizeof frame, reply, sizeof reply, 2, 0)),
              port::kErrorNotOpen);
    EXPECT_EQ(seen.order, "X");
    ASSERT_EQ(seen.outcomes.size(), 1u);
    EXPECT_EQ(seen.outcomes[0].line, 2);
    EXPECT_EQ(seen.outcomes[0].code, port::kErrorNotOpen);
    EXPECT_EQ(seen.outcomes[0].state, kLineStateBad);
}

}  // namespace
}  // namespace zarvik::testing::exchange_hook
