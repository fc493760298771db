// Completion rule and frame recognition of the reply reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "PosixDevice.h"
#include "ReplyReader.h"

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

// A non-blocking pipe stands in for the line: the reader only polls and reads.
struct Pipe {
    Pipe() {
        EXPECT_EQ(::pipe(fds), 0);
        ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void Write(const std::vector<std::uint8_t>& bytes) const {
        EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int fds[2];
};

ReplyLimits Limits(Clock::time_point expected) {
    const auto now = Clock::now();
    ReplyLimits limits;
    limits.firstByteDeadline = now + std::chrono::seconds(2);
    limits.interByte = std::chrono::milliseconds(500);
    limits.hardDeadline = now + std::chrono::seconds(3);
    limits.expectedComplete = expected;
    return limits;
}

const std::vector<std::uint8_t> kReply{0x02, 0x01, 0x01, 0x02, 0x97, 0x00, 0x95};

TEST(ReadReply, ReplyThereAtItsExpectedTimeTakesOneWakeUp) {
    Pipe line;
    PosixDevice device(line.fds[0], false);
    auto bytes = kReply;
    bytes.insert(bytes.end(), {0x02, 0x09});  // the start of something else
    line.Write(bytes);
    std::uint8_t buffer[64];
    const ReplyOutcome out =
        ReadReply(device, buffer, sizeof buffer, Limits(Clock::now() + std::chrono::milliseconds(2)));
    EXPECT_EQ(out.end, ReplyEnd::Complete);
    EXPECT_EQ(out.length, kReply.size()) << "never past the frame";
    EXPECT_EQ(out.wakeups, 1u);
    EXPECT_TRUE(out.asExpected);
}

TEST(ReadReply, ReplyLaterThanExpectedIsWaitedForAsUsual) {
    Pipe line;
    PosixDevice device(line.fds[0], false);
    std::thread dispenser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        line.Write(kReply);
    });
    std::uint8_t buffer[64];
    const ReplyOutcome out =
        ReadReply(device, buffer, sizeof buffer, Limits(Clock::now() + std::chrono::milliseconds(1)));
    dispenser.join();
    EXPECT_EQ(out.end, ReplyEnd::Complete);
    EXPECT_EQ(out.length, kReply.size());
    EXPECT_FALSE(out.asExpected);
    EXPECT_GE(out.wakeups, 2u);
}

TEST(ReadReply, NoReplyAfterAnExpectedTimeIsStillATimeout) {
    Pipe line;
    PosixDevice device(line.fds[0], false);
    std::uint8_t buffer[64];
    ReplyLimits limits = Limits(Clock::now() + std::chrono::milliseconds(1));
    limits.firstByteDeadline = Clock::now() + std::chrono::milliseconds(20);
    const ReplyOutcome out = ReadReply(device, buffer, sizeof buffer, limits);
    EXPECT_EQ(out.end, ReplyEnd::NoReply);
    EXPECT_EQ(out.length, 0u);
}

}  // namespace
}  // namespace zarvik::port
