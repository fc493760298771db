// Lines run in parallel from different threads; exchanges on one line never
// overlap, whichever threads call them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ReplyReader.h"
#include "SimulatedLine.h"
#include "protocol/Frame.h"
#include "protocol/ReplyChecker.h"

namespace zarvik::testing {
namespace {

TEST(Concurrency, TwoLinesFromTwoThreads_AllRepliesGood) {
    constexpr int kPolls = 60;
    SimulatedLine a, b;
    const auto poll = [](SimulatedLine& s, int& goodCount) {
        for (int i = 0; i < kPolls; ++i) {
            TDispenserStatus st{};
            s.driver().GetDispenserStatus(SimulatedLine::kLine, 1, 3, st);
            if (s.lineResult() == 1) ++goodCount;
        }
    };
    int goodA = 0, goodB = 0;
    std::thread ta(poll, std::ref(a), std::ref(goodA));
    std::thread tb(poll, std::ref(b), std::ref(goodB));
    ta.join();
    tb.join();
    EXPECT_EQ(goodA, kPolls);
    EXPECT_EQ(goodB, kPolls);
}

// Several threads share one line through the port service directly: each
// must get the reply to its own request (the sequence number it sent).
TEST(Concurrency, OneLineManyThreads_EachGetsItsOwnReply) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 40;
    SimulatedLine s;
    auto& port = s.port();
    port.SetReplyChecker(SimulatedLine::kLine, protocol::ReplyCheckerFor(port));

    std::atomic<int> mismatched{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::uint8_t sequence = static_cast<std::uint8_t>(t * kPerThread + i);
                const std::uint8_t payload[] = {1, protocol::kCmdStatus, 0};
                std::uint8_t frame[16];
                const auto n = protocol::BuildFrame(sequence, payload, sizeof payload, frame);
                std::uint8_t reply[35] = {};
                const auto h = port.StartTransfer(SimulatedLine::kLine, SimulatedLine::kLine, frame,
                                                  static_cast<std::uint8_t>(n), reply, sizeof reply, 2, 0);
                if (port.WaitTransfer(h) != 0) {
                    ++failed;
                    continue;
                }
                if (!port::IsWholeFrame(reply, 35) || reply[protocol::kOffsetSequence] != sequence) ++mismatched;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(mismatched.load(), 0);
    EXPECT_EQ(port.Statistics(SimulatedLine::kLine).good, static_cast<std::uint64_t>(kThreads * kPerThread));
}

}  // namespace
}  // namespace zarvik::testing
