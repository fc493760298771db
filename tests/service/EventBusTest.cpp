// The event bus's resume and reset, and which pump changes become events.
#include <gtest/gtest.h>

#include <thread>

#include "service/EventBus.h"
#include "service/StationState.h"
#include "service/Tickets.h"

namespace zarvik::service {
namespace {

std::vector<std::uint64_t> Seqs(const EventBus::Batch& batch) {
    std::vector<std::uint64_t> seqs;
    for (const Event& e : batch.events) seqs.push_back(e.seq);
    return seqs;
}

TEST(EventBus, ResumesWhileHeldAndResetsOtherwise) {
    EventBus bus(3, 100);
    EXPECT_TRUE(bus.After(99, std::chrono::milliseconds(0)).events.empty());
    EXPECT_FALSE(bus.After(99, std::chrono::milliseconds(0)).reset);
    for (int i = 0; i < 5; ++i) bus.Publish([](std::uint64_t seq) { return std::to_string(seq); });  // 100..104
    const struct {
        std::uint64_t after;
        bool reset;
        std::vector<std::uint64_t> seqs;
    } cases[] = {
        {101, false, {102, 103, 104}},  // the oldest still held
        {103, false, {104}},
        {104, false, {}},  // nothing new
        {100, true, {}},   // 101 is gone
        {50, true, {}},    // a number of an earlier run
        {105, true, {}},   // never given out
    };
    for (const auto& c : cases) {
        const auto batch = bus.After(c.after, std::chrono::milliseconds(0));
        EXPECT_EQ(batch.reset, c.reset) << c.after;
        EXPECT_EQ(Seqs(batch), c.seqs) << c.after;
        EXPECT_EQ(batch.last, 104u);
    }
    EXPECT_EQ(bus.After(103, std::chrono::milliseconds(0)).events[0].data, "104");
}

TEST(EventBus, WaitingReaderGetsTheNextEvent) {
    EventBus bus(8, 1);
    std::thread publisher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bus.Publish([](std::uint64_t) { return "x"; });
    });
    const auto batch = bus.After(0, std::chrono::seconds(10));
    publisher.join();
    EXPECT_EQ(Seqs(batch), std::vector<std::uint64_t>{1});
}

TEST(StationStateEvents, OnlySummaryChangesAreTold_ToEveryObserver) {
    StationState state;
    state.AddPump(1, 2);
    std::vector<std::string> told;
    state.OnPumpChanged([&](int line, int dispenser, const PumpRecord& r) {
        EXPECT_EQ(line * 10 + dispenser, 12);
        told.push_back(r.live ? std::to_string(r.lastGood->state) + "/" + std::to_string(r.lastGood->nozzle)
                              : "fault " + r.fault->cause);
    });
    int alsoTold = 0;  // a second observer (the telemetry beside the event bus)
    state.OnPumpChanged([&](int, int, const PumpRecord&) { ++alsoTold; });
    const auto reading = [](std::uint8_t code, int nozzle, double litres) {
        PumpReading r;
        r.state = code;
        r.nozzle = nozzle;
        r.values[0] = PumpReading::Values{litres, litres * 50};
        return r;
    };
    state.PollGood(1, 2, reading(0, 0, 0));   // first poll
    state.PollGood(1, 2, reading(0, 0, 0));   // the same
    state.PollGood(1, 2, reading(3, 1, 0));   // lifted
    state.PollGood(1, 2, reading(4, 1, 1));   // delivering
    state.PollGood(1, 2, reading(4, 1, 2));   // only the volume grew
    state.PollGood(1, 2, reading(4, 2, 2));   // another nozzle
    state.PollFailed(1, 2, {"timeout", {}});  // fault
    state.PollFailed(1, 2, {"timeout", {}});  // the same fault
    state.PollFailed(1, 2, {"crc", {}});      // another cause
    state.PollGood(1, 2, reading(4, 2, 3));   // live again
    state.PollGood(3, 3, reading(1, 1, 1));   // no such pump
    EXPECT_EQ(told, (std::vector<std::string>{"0/0", "3/1", "4/1", "4/2", "fault timeout", "fault crc", "4/2"}));
    EXPECT_EQ(alsoTold, 7);
}

}  // namespace
}  // namespace zarvik::service

namespace zarvik::service {
namespace {

TEST(Tickets, GoodOnceWithinTheirLifetimeForTheirRole) {
    WallTime now{};
    Tickets tickets(std::chrono::seconds(30), [&now] { return now; });
    const auto read = tickets.Issue(http::Role::Read);
    const auto control = tickets.Issue(http::Role::Control);
    const auto late = tickets.Issue(http::Role::Read);
    ASSERT_TRUE(read && control && late);
    EXPECT_EQ(read->ticket.size(), 64u);
    EXPECT_NE(read->ticket, control->ticket);
    EXPECT_EQ(read->expiresAt, now + std::chrono::seconds(30));
    EXPECT_EQ(tickets.Redeem(read->ticket), http::Role::Read);
    EXPECT_EQ(tickets.Redeem(read->ticket), http::Role::None);  // used
    EXPECT_EQ(tickets.Redeem(control->ticket), http::Role::Control);
    EXPECT_EQ(tickets.Redeem(""), http::Role::None);
    now += std::chrono::seconds(30);
    EXPECT_EQ(tickets.Redeem(late->ticket), http::Role::None);  // expired
}

}  // namespace
}  // namespace zarvik::service
