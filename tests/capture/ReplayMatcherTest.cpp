// The replay matcher: which recorded reply a live request gets, in which
// order, and with which sequence number and checksum.
#include <gtest/gtest.h>

#include "CaptureTestSupport.h"
#include "capture/ReplayMatcher.h"

namespace zarvik::capture {
namespace {

using testing::Bytes;
using testing::Frame;

const Bytes kStatusNozzle0{0x01, 0x02, 0x9F, 0x00};  // address 1, LEN 2, status, nozzle byte 0
const Bytes kStatusNozzle1{0x01, 0x02, 0x9F, 0x01};
const Bytes kTotalNozzle0{0x01, 0x02, 0x9B, 0x00};

CaptureRecord Rec(long long micros, std::uint8_t line, Direction direction, Bytes bytes) {
    return {Timestamp(std::chrono::microseconds(micros)), line, direction, std::move(bytes)};
}
CaptureRecord Sent(long long micros, Bytes bytes, std::uint8_t line = 1) {
    return Rec(micros, line, Direction::Sent, std::move(bytes));
}
CaptureRecord Got(long long micros, Bytes bytes, std::uint8_t line = 1) {
    return Rec(micros, line, Direction::Received, std::move(bytes));
}
Bytes Reply(std::uint8_t sequence, std::uint8_t marker) { return Frame(sequence, {0x01, 0x02, 0x9F, marker}); }

std::optional<Bytes> Ask(ReplayMatcher& m, const Bytes& request) {
    const auto a = m.Answer(request.data(), request.size());
    if (!a) return std::nullopt;
    return a->bytes;
}

TEST(ReplayMatcher, RequestGetsTheReplyRecordedForTheSameBytes) {
    ReplayMatcher m({Sent(0, Frame(0, kStatusNozzle0)), Got(10, Reply(0, 0xA0)), Sent(20, Frame(1, kStatusNozzle1)),
                     Got(30, Reply(1, 0xA1))},
                    1);
    EXPECT_EQ(Ask(m, Frame(0, kStatusNozzle1)), Reply(0, 0xA1));  // by content, not by position
    EXPECT_EQ(Ask(m, Frame(1, kStatusNozzle0)), Reply(1, 0xA0));
    EXPECT_EQ(Ask(m, Frame(2, kTotalNozzle0)), std::nullopt);  // never recorded
    EXPECT_EQ(m.Stats().answered, 2u);
    EXPECT_EQ(m.Stats().unmatched, 1u);
    EXPECT_EQ(m.Stats().recordedPairs, 2u);
}

TEST(ReplayMatcher, RepeatedRequestReplaysTheRecordingInOrderThenNothing) {
    ReplayMatcher m({Sent(0, Frame(0, kStatusNozzle0)), Got(1, Reply(0, 1)), Sent(2, Frame(1, kStatusNozzle0)),
                     Got(3, Reply(1, 2)), Sent(4, Frame(2, kStatusNozzle0)), Got(5, Reply(2, 3))},
                    1);
    for (std::uint8_t marker = 1; marker <= 3; ++marker)
        EXPECT_EQ(Ask(m, Frame(marker - 1, kStatusNozzle0)), Reply(marker - 1, marker));
    EXPECT_EQ(Ask(m, Frame(3, kStatusNozzle0)), std::nullopt);
    EXPECT_EQ(m.Stats().unmatched, 1u);
}

TEST(ReplayMatcher, RequestThatWentUnansweredStaysUnanswered) {
    // The first poll timed out (another request followed it), the second was answered.
    ReplayMatcher m({Sent(0, Frame(0, kStatusNozzle0)), Sent(300, Frame(1, kStatusNozzle0)), Got(310, Reply(1, 7))}, 1);
    EXPECT_EQ(Ask(m, Frame(0, kStatusNozzle0)), std::nullopt);
    EXPECT_EQ(Ask(m, Frame(1, kStatusNozzle0)), Reply(1, 7));
    EXPECT_EQ(m.Stats().notAnswered, 1u);
    // A request recorded last, with nothing after it, was not answered either.
    ReplayMatcher last({Sent(0, Frame(0, kStatusNozzle0))}, 1);
    EXPECT_EQ(Ask(last, Frame(0, kStatusNozzle0)), std::nullopt);
    EXPECT_EQ(last.Stats().notAnswered, 1u);
}

TEST(ReplayMatcher, DiscardedBytesAndOtherLinesDoNotTakeTheReplysPlace) {
    ReplayMatcher m({Sent(0, Frame(0, kStatusNozzle0)), Sent(1, Frame(0, kStatusNozzle1), 2), Got(2, Reply(0, 0xEE), 2),
                     Rec(3, 1, Direction::Discarded, Reply(9, 0xDD)), Got(4, Reply(0, 0x11)),
                     Rec(5, 1, Direction::Discarded, Bytes{0xFF})},
                    1);
    EXPECT_EQ(Ask(m, Frame(0, kStatusNozzle1)), std::nullopt);  // line 2's request
    EXPECT_EQ(Ask(m, Frame(0, kStatusNozzle0)), Reply(0, 0x11));
}

TEST(ReplayMatcher, ReplyWithNoRequestBeforeItIsNeverSent) {
    ReplayMatcher m({Got(0, Reply(0, 1)), Sent(1, Frame(0, kStatusNozzle0)), Got(2, Reply(0, 2))}, 1);
    EXPECT_EQ(Ask(m, Frame(0, kStatusNozzle0)), Reply(0, 2));
    EXPECT_EQ(m.Stats().recordedPairs, 1u);
}

TEST(ReplayMatcher, ReportsHowLongTheDispenserTook) {
    ReplayMatcher m({Sent(1'000'000, Frame(0, kStatusNozzle0)), Got(1'061'500, Reply(0, 1))}, 1);
    const Bytes live = Frame(0, kStatusNozzle0);
    const auto a = m.Answer(live.data(), live.size());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->recordedTime, std::chrono::microseconds(61'500));
}

TEST(ReplayMatcher, SequenceNumberOfTheLiveRequest) {
    const Bytes good = Reply(0x05, 0x42);
    Bytes badChecksum = good;
    badChecksum.back() ^= 0x30;
    Bytes torn(good.begin(), good.begin() + 6);  // LEN says 2 data bytes, the checksum never came
    struct Case {
        const char* name;
        Bytes recorded;  // reply to a request recorded with sequence 0x05
        Bytes expected;  // sent for a live request with sequence 0x80
    };
    Bytes tornLive = torn;
    tornLive[1] = 0x80;
    Bytes badLive = Reply(0x80, 0x42);
    badLive.back() ^= 0x30;
    const Case cases[] = {
        {"echoed: live number, checksum right", good, Reply(0x80, 0x42)},
        {"echoed with a wrong checksum: exactly as wrong", badChecksum, badLive},
        {"not echoed: as recorded", Reply(0x06, 0x42), Reply(0x06, 0x42)},
        {"torn: live number, last byte is data", torn, tornLive},
        {"one byte: as recorded", Bytes{0x02}, Bytes{0x02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplayMatcher m({Sent(0, Frame(0x05, kStatusNozzle0)), Got(1, c.recorded)}, 1);
        EXPECT_EQ(Ask(m, Frame(0x80, kStatusNozzle0)), c.expected);
    }
}

TEST(ReplayMatcher, FramesTooShortToCarryACommandMatchNothing) {
    ReplayMatcher m({Sent(0, Bytes{0x02, 0x00, 0x01}), Got(1, Reply(0, 1))}, 1);
    EXPECT_EQ(m.Stats().recordedPairs, 0u);
    const Bytes live{0x02, 0x00, 0x01};
    EXPECT_FALSE(m.Answer(live.data(), live.size()));
}

TEST(ReplayMatcher, TurnaroundIsTheRecordedTimeLessBothFramesOnTheWire) {
    struct Case {
        long long recordedUs;
        std::size_t request, reply;
        int baud;
        long long expectedUs;
    };
    const Case cases[] = {
        {61'500, 9, 35, 9600, 15'667},  // 44 bytes x 10 bits at 9600 baud: 45.833 ms on the wire
        {45'833, 9, 35, 9600, 0},       // quicker than the wire: no pause at all, never negative
        {1'000, 9, 35, 115200, 0},
        {10'000, 9, 35, 115200, 6'181},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordedUs);
        EXPECT_EQ(RecordedTurnaround(std::chrono::microseconds(c.recordedUs), c.request, c.reply, c.baud).count(),
                  c.expectedUs);
    }
}

TEST(ReplayMatcher, LinesInNamesEveryLineOnce) {
    EXPECT_EQ(LinesIn({Sent(0, Bytes{2}, 3), Got(1, Bytes{2}, 1), Sent(2, Bytes{2}, 3)}),
              (std::set<std::uint8_t>{1, 3}));
}

}  // namespace
}  // namespace zarvik::capture
