// The reply checker a port service calls: the verdict goes into the service,
// state first, then error code, and only the low byte of the length counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/ReplyChecker.h"
#include "support/FakePortManager.h"

namespace zarvik::protocol {
namespace {

using testing::FakePortManager;

TEST(CheckReplyInto, StoresStateThenErrorAndAnswersGood) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> reply;
        std::int32_t length;
        std::uint8_t state;
        std::int32_t error;
    };
    const auto good = testing::Frame(1, {0x97, 0x00, 0x00}, 4);
    auto badStart = good;
    badStart[0] = 0x03;
    auto badSum = good;
    badSum.back() ^= 0x40;
    const Case cases[] = {
        {"good", good, 8, kLineStateGood, kReplyOk},
        {"good, length 256 + 8: its low byte is 8", good, 256 + 8, kLineStateGood, kReplyOk},
        {"one byte short", good, 7, kLineStateBad, kReplyBadLength},
        {"start byte", badStart, 8, kLineStateBad, kReplyBadStart},
        {"checksum", badSum, 8, kLineStateBad, kReplyBadChecksum},
    };
    for (const auto& c : cases) {
        FakePortManager port;
        EXPECT_EQ(CheckReplyInto(port, 6, c.reply.data(), c.length), c.state == kLineStateGood) << c.name;
        EXPECT_EQ(port.CallNames(), (std::vector<std::string>{"SetLineState", "SetLineError"})) << c.name;
        EXPECT_EQ(port.state[6], c.state) << c.name;
        EXPECT_EQ(port.error[6], c.error) << c.name;
    }
}

TEST(ReplyCheckerFor, IsBoundToTheServiceItStoresInto) {
    FakePortManager port;
    const TReplyChecker checker = ReplyCheckerFor(port);
    ASSERT_TRUE(checker);
    EXPECT_EQ(checker.data, &port);
    const auto reply = testing::Frame(2, {0x9F}, 0);
    std::int32_t length = static_cast<std::int32_t>(reply.size()) - 1;
    EXPECT_FALSE(checker(3, reply.data(), length));
    EXPECT_EQ(port.state[3], kLineStateBad);
    EXPECT_EQ(port.error[3], kReplyBadLength);
}

}  // namespace
}  // namespace zarvik::protocol
