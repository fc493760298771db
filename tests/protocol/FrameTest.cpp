#include <gtest/gtest.h>

#include <vector>

#include "protocol/Frame.h"
#include "support/ByteAssertions.h"
#include "support/FakePortManager.h"
#include "support/GoldenFrames.h"

namespace zarvik::protocol {
namespace {

using testing::Frame;
using testing::Hex;

TEST(DispenserAddress, MapsPairsOntoOneBusAddress) {
    struct Case {
        int dispenser, nozzle;
        std::uint8_t address, nozzleByte;
    };
    const Case cases[] = {{1, 1, 1, 0}, {1, 6, 1, 5},   {2, 1, 1, 5},   {2, 3, 1, 7},
                          {3, 1, 2, 0}, {31, 2, 16, 1}, {32, 6, 16, 10}};
    for (const auto& c : cases) {
        const BusAddress bus = DispenserAddress(c.dispenser, c.nozzle);
        EXPECT_EQ(bus.address, c.address) << "dispenser " << c.dispenser << " nozzle " << c.nozzle;
        EXPECT_EQ(bus.nozzle, c.nozzleByte) << "dispenser " << c.dispenser << " nozzle " << c.nozzle;
    }
}

std::vector<std::uint8_t> Build(std::uint8_t sequence, std::vector<std::uint8_t> payload) {
    std::uint8_t frame[kMaxFrame + 8];
    std::fill(std::begin(frame), std::end(frame), 0xEE);
    const std::size_t n = BuildFrame(sequence, payload.data(), payload.size(), frame);
    EXPECT_EQ(frame[n], 0xEE) << "wrote past the frame";
    return {frame, frame + n};
}

TEST(BuildFrame, GoldenFrames) {
    struct Case {
        std::uint8_t sequence;
        std::vector<std::uint8_t> payload;
        std::vector<std::uint8_t> frame;
    };
    const Case cases[] = {
        {0, {0x01, 0x97, 0x00}, {0x02, 0x00, 0x01, 0x02, 0x97, 0x00, 0x94}},
        {5, {0x07}, {0x02, 0x05, 0x07, 0x00, 0x02}},
        {0xFF, {0x02, 0x1F, 0x02, 0x03, 0x00, 0x15}, {0x02, 0xFF, 0x02, 0x05, 0x1F, 0x02, 0x03, 0x00, 0x15, 0xF3}},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(Build(c.sequence, c.payload)), Hex(c.frame));
}

TEST(BuildFrame, GoldenRequestsOfEveryCommand) {
    for (const testing::golden::Exchange* e : testing::golden::kAll)
        EXPECT_TRUE(testing::SameBytes(e->request, Build(e->sequence, e->payload))) << e->name;
}

TEST(BuildFrame, LongestPayloadFillsTheFrameBuffer) {
    std::vector<std::uint8_t> payload(kMaxPayload, 0x11);
    const auto frame = Build(1, payload);
    ASSERT_EQ(frame.size(), kMaxFrame);
    EXPECT_EQ(frame[3], kMaxPayload - 1);
}

struct JudgeCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::size_t length;  // received bytes
    std::uint8_t state;
    std::int32_t error;
};

TEST(JudgeReply, ReportsTheFirstFaultInCheckOrder) {
    const auto good = Frame(1, {}, 7);  // 02 07 01 00 06
    auto badStart = good;
    badStart[0] = 0x03;
    auto badSum = good;
    badSum[4] ^= 0xFF;
    auto allBad = good;
    allBad[0] = 0x03;
    allBad[4] ^= 0xFF;
    const auto status = Frame(1, std::vector<std::uint8_t>(30, 0x5A));

    const JudgeCase cases[] = {
        {"well formed, empty", good, 5, 1, 0},
        {"well formed, status", status, 35, 1, 0},
        {"length disagrees with LEN", status, 34, 3, 246},
        {"length wrong, start and sum wrong too", allBad, 6, 3, 246},
        {"start byte 03, sum wrong too", allBad, 5, 3, 223},
        {"start byte 03", badStart, 5, 3, 223},
        {"checksum differs", badSum, 5, 3, 222},
        {"nothing received", good, 0, 3, 246},
        {"four bytes received", good, 4, 3, 246},
    };
    for (const auto& c : cases) {
        const ReplyVerdict v = JudgeReply(c.reply.data(), c.length);
        EXPECT_EQ(v.state, c.state) << c.name;
        EXPECT_EQ(v.error, c.error) << c.name;
    }
}

TEST(JudgeReply, ShortReplyIsNotReadPastWhatCame) {
    // Only three bytes exist; the checker must decide without byte 3.
    auto* bytes = new std::uint8_t[3]{0x02, 0x00, 0x01};
    EXPECT_EQ(JudgeReply(bytes, 3).error, 246);
    delete[] bytes;
}

TEST(JudgeReply, SequenceAndAddressAreNotCompared) {
    const auto reply = Frame(9, {0x97, 0x00, 0x00}, 0xAB);
    EXPECT_EQ(JudgeReply(reply.data(), reply.size()).state, 1);
}

TEST(JudgedLength, IsLenPlusFiveOnlyWhenTheBufferHoldsIt) {
    const auto status = Frame(1, std::vector<std::uint8_t>(30, 0));  // LEN 30: 35 bytes
    EXPECT_EQ(JudgedLength(status.data(), 35), 35u);
    EXPECT_EQ(JudgedLength(status.data(), 60), 35u);
    EXPECT_EQ(JudgedLength(status.data(), 34), 0u);  // LEN announces more than the buffer holds
    const auto empty = Frame(1, {});
    EXPECT_EQ(JudgedLength(empty.data(), 8), 5u);
    EXPECT_EQ(JudgedLength(empty.data(), 3), 0u);  // a buffer that cannot even hold LEN
}

TEST(IsWholeFrame, AgreesWithTheReplyCheck) {
    const auto good = Frame(1, {0x9F, 0x00}, 3);
    auto badSum = good;
    badSum.back() ^= 0x01;
    EXPECT_TRUE(IsWholeFrame(good.data(), good.size()));
    EXPECT_FALSE(IsWholeFrame(good.data(), good.size() - 1));
    EXPECT_FALSE(IsWholeFrame(badSum.data(), badSum.size()));
    EXPECT_FALSE(IsWholeFrame(good.data(), 0));
}

// Requests: total of nozzle byte 1 at address 1, parameter read at address 2.
TEST(MatchReply, AddressCommandAndNozzleMustBeTheRequests) {
    const auto total = Frame(1, {0x9B, 0x01}, 4);
    const auto read = Frame(2, {0x1F, 0x03, 0x01, 0x00, 0x01}, 5);
    struct Case {
        const std::vector<std::uint8_t>& request;
        std::vector<std::uint8_t> reply;
        ReplyMatch match;
        bool refuses;
    };
    const Case cases[] = {
        {total, Frame(1, {0x9B, 0x00, 0x01, 0x10, 0x27, 0x00, 0x00}, 4), ReplyMatch::Answers, false},
        {total, Frame(1, {0x9B, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00}, 4), ReplyMatch::Answers, true},
        {total, Frame(1, {0x9B, 0x00, 0x02, 0x10, 0x27, 0x00, 0x00}, 4), ReplyMatch::OtherNozzle, false},
        {total, Frame(1, {0x9B, 0x01}, 4), ReplyMatch::OtherNozzle, true},  // the request itself: no nozzle byte 6
        {total, Frame(1, {0x97, 0x00, 0x01}, 4), ReplyMatch::OtherCommand, false},
        {total, Frame(2, {0x9B, 0x00, 0x01, 0x10, 0x27, 0x00, 0x00}, 4), ReplyMatch::OtherAddress, false},
        {total, Frame(1, {}, 4), ReplyMatch::OtherCommand, false},
        {read, Frame(2, {0x1F, 0x00, 0x11}, 9), ReplyMatch::Answers, false},  // no nozzle byte to compare
        {read, Frame(2, {0x1F, 0x03}, 5), ReplyMatch::Answers, true},
        {read, Frame(2, {0x1E, 0x00}, 5), ReplyMatch::OtherCommand, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.reply));
        EXPECT_EQ(MatchReply(c.request.data(), c.request.size(), c.reply.data(), c.reply.size()), c.match);
        EXPECT_EQ(RefusesRequest(c.request.data(), c.request.size(), c.reply.data(), c.reply.size()), c.refuses);
    }
}

}  // namespace
}  // namespace zarvik::protocol
