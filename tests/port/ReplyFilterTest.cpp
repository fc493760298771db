// The stale-reply filter on its own: which frames it takes for the current
// request, what it learns, and that no line is ever locked out.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "ReplyFilter.h"

namespace zarvik::port {
namespace {

using Verdict = ReplyFilter::Verdict;

// A reply frame as the filter sees it: only the sequence number and the
// address matter to it.
std::vector<std::uint8_t> ReplyTo(std::uint8_t sequence, std::uint8_t address = 1) {
    return {0x02, sequence, address, 0x00, 0x00};
}

// True when the filter takes the frame as the reply to the current request.
bool Takes(ReplyFilter& f, const std::vector<std::uint8_t>& frame) {
    return !f.Drops(f.Classify(frame.data(), frame.size()));
}

TEST(ReplyFilter, EchoingLine_LearntAfterConsecutiveEchoesThenForeignRepliesDropped) {
    ReplyFilter f;
    for (int i = 0; i < ReplyFilter::kTrustAfter; ++i) {
        EXPECT_EQ(f.SequenceEcho(), Learnt::Unknown) << i;
        f.Begin(static_cast<std::uint8_t>(i), 1);
        EXPECT_TRUE(Takes(f, ReplyTo(static_cast<std::uint8_t>(i))));
        f.End(true);
    }
    EXPECT_EQ(f.SequenceEcho(), Learnt::Yes);
    EXPECT_EQ(f.AddressEcho(), Learnt::Yes);
    f.Begin(10, 1);
    EXPECT_EQ(f.Classify(ReplyTo(77).data(), 5), Verdict::Foreign);
    EXPECT_TRUE(f.Drops(Verdict::Foreign));
    EXPECT_FALSE(Takes(f, ReplyTo(10, 2))) << "the right number from another address";
    EXPECT_TRUE(Takes(f, ReplyTo(10, 1)));
    f.End(true);
}

TEST(ReplyFilter, UnknownPhase_ReplyForAnEarlierUnansweredRequestIsStale) {
    ReplyFilter f;
    f.Begin(0, 1);
    f.End(false);  // timed out
    f.Begin(1, 2);
    // Nothing learnt yet, and still the late reply to request 0 is not taken.
    EXPECT_EQ(f.Classify(ReplyTo(0).data(), 5), Verdict::Stale);
    EXPECT_TRUE(f.Drops(Verdict::Stale));
    EXPECT_TRUE(Takes(f, ReplyTo(1, 2)));
    f.End(true);
    // An answered request is no longer waited for: its number again is foreign.
    f.Begin(2, 1);
    EXPECT_EQ(f.Classify(ReplyTo(0).data(), 5), Verdict::Foreign);
}

// A far end that answers every request late and falls further and further
// behind (one reply for every two requests): its backlog passes a whole turn
// of the sequence counter, and still no reply is taken for a later request.
TEST(ReplyFilter, EveryReplyLate_BacklogPastOneTurnOfTheCounter_NothingTaken) {
    ReplyFilter f;
    std::deque<int> owed;
    int taken = 0;
    for (int n = 0; n < 1200; ++n) {
        f.Begin(static_cast<std::uint8_t>(n), 1);
        owed.push_back(n);
        if (n % 2 == 1) {
            const int k = owed.front();
            owed.pop_front();
            if (k != n && Takes(f, ReplyTo(static_cast<std::uint8_t>(k)))) ++taken;
        }
        f.End(false);
    }
    EXPECT_GT(owed.size(), 512u) << "the backlog passed two turns of the counter";
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(f.SequenceEcho(), Learnt::Yes) << "late replies are evidence of echoing";
}

// A dispenser that never echoes puts a fixed byte where the number goes. The
// line falls back to unfiltered operation and keeps working, also when the
// counter meets the fixed byte, and also with some requests unanswered.
TEST(ReplyFilter, FixedSequenceByte_LineNeverLockedOut) {
    for (const std::uint8_t fixed : {std::uint8_t{0x00}, std::uint8_t{0x55}}) {
        ReplyFilter f;
        int dropped = 0;
        int takenLast = 0;
        for (int n = 0; n < 700; ++n) {
            f.Begin(static_cast<std::uint8_t>(n), 1);
            if (n % 10 == 9) {  // no reply
                f.End(false);
                continue;
            }
            const bool took = Takes(f, ReplyTo(fixed));
            dropped += took ? 0 : 1;
            if (n >= 600 && took) ++takenLast;
            f.End(took);
        }
        EXPECT_EQ(f.SequenceEcho(), Learnt::No) << int{fixed};
        EXPECT_LE(dropped, 2) << int{fixed};
        EXPECT_EQ(takenLast, 90) << int{fixed};
    }
}

TEST(ReplyFilter, EchoingLineThatStopsEchoing_FallsBackAndRelearns) {
    ReplyFilter f;
    std::uint8_t n = 0;
    const auto exchange = [&](std::uint8_t replySequence) {
        f.Begin(n, 1);
        const bool took = Takes(f, ReplyTo(replySequence));
        f.End(took);
        ++n;
        return took;
    };
    for (int i = 0; i < 5; ++i) exchange(n);
    ASSERT_EQ(f.SequenceEcho(), Learnt::Yes);
    // Dropped while the line trusts the echo, then the line gives up on it.
    for (int i = 0; i < ReplyFilter::kFallBackAfter; ++i) EXPECT_FALSE(exchange(0xEE)) << i;
    EXPECT_EQ(f.SequenceEcho(), Learnt::No);
    EXPECT_TRUE(exchange(0xEE));
    for (int i = 0; i < ReplyFilter::kRetrustAfter; ++i) EXPECT_TRUE(exchange(n));
    EXPECT_EQ(f.SequenceEcho(), Learnt::Yes);
}

// A line whose dispenser was away for longer than a turn of the counter: its
// first reply carries the current number and is taken, although a request
// 256 exchanges ago had the same number and was never answered.
TEST(ReplyFilter, LongOutage_FirstReplyAfterwardsIsTaken) {
    ReplyFilter f;
    int n = 0;
    for (; n < 5; ++n) {
        f.Begin(static_cast<std::uint8_t>(n), 1);
        EXPECT_TRUE(Takes(f, ReplyTo(static_cast<std::uint8_t>(n))));
        f.End(true);
    }
    for (; n < 600; ++n) {
        f.Begin(static_cast<std::uint8_t>(n), 1);
        f.End(false);
    }
    f.Begin(static_cast<std::uint8_t>(n), 1);
    EXPECT_TRUE(Takes(f, ReplyTo(static_cast<std::uint8_t>(n))));
}

TEST(ReplyFilter, Disabled_TakesEverything) {
    ReplyFilter f;
    f.SetEnabled(false);
    f.Begin(0, 1);
    f.End(false);
    f.Begin(1, 1);
    EXPECT_TRUE(Takes(f, ReplyTo(0)));
}

}  // namespace
}  // namespace zarvik::port
