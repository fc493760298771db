// Completion rule and frame recognition of the reply reader.
#include <gtest/gtest.h>

#include <vector>

#include "port/ReplyReader.h"

namespace zarvik::port {
namespace {

struct TargetCase {
    const char* name;
    std::vector<std::uint8_t> received;
    std::size_t capacity;
    std::size_t target;
};

TEST(ReplyTarget, FollowsLenOnceByteThreeArrivedAndNeverExceedsCapacity) {
    const TargetCase cases[] = {
        {"nothing yet: up to the capacity", {}, 35, 35},
        {"LEN not yet there", {0x02, 0x00, 0x01}, 42, 42},
        {"short variable reply: LEN 3 of a 42-byte maximum", {0x02, 0x00, 0x01, 0x03}, 42, 8},
        {"status reply LEN 30", {0x02, 0x00, 0x01, 30}, 35, 35},
        {"corrupted LEN capped at the capacity", {0x02, 0x00, 0x01, 0xFF}, 35, 35},
        {"LEN 0", {0x02, 0x07, 0x01, 0x00}, 8, 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplyTarget(c.received.data(), c.received.size(), c.capacity), c.target) << c.name;
}

TEST(IsWholeFrame, AcceptsOnlyStartLengthAndChecksumRight) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool whole;
    } cases[] = {
        {"LEN 0 reply", {0x02, 0x07, 0x01, 0x00, 0x06}, true},
        {"bad checksum", {0x02, 0x07, 0x01, 0x00, 0x07}, false},
        {"wrong start byte", {0x03, 0x07, 0x01, 0x00, 0x06}, false},
        {"one byte short of LEN", {0x02, 0x07, 0x01, 0x01, 0x06}, false},
        {"too short to hold LEN", {0x02, 0x07}, false},
        {"with data", {0x02, 0x01, 0x01, 0x02, 0x97, 0x00, 0x95}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWholeFrame(c.bytes.data(), c.bytes.size()), c.whole) << c.name;
}

}  // namespace
}  // namespace zarvik::port
