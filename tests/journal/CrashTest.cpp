// A child journals sales as fast as it can and is killed (SIGKILL) at a
// random moment, again and again. After each kill the parent reopens the
// journal and checks it against what the child reported done: every call that
// returned is on disk, no sale is there twice, and after the restart scan no
// sale is left authorising (never sent → failed). The seed is fixed, so a
// failure repeats.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <thread>

#include "JournalFixture.h"

namespace zarvik::journal::test {
namespace {

using CrashTest = JournalFixture;

// What the child tells the parent after each call returned.
struct Report {
    char step;  // 'B' begun, 'S' sent, 'F' finished
    SaleId id;
    std::int64_t number;  // the sale's own number, kept as its price
};

[[noreturn]] void JournalSales(const std::string& path, int out, std::int64_t first) {
    try {
        Journal journal = Journal::Open(path);
        for (std::int64_t number = first;; ++number) {
            const SaleId id = journal.Begin({{1, 1, 1}, {PresetKind::Litres, 1.0}, double(number), 0.0, At(0)});
            Report report{'B', id, number};
            if (write(out, &report, sizeof report) != sizeof report) _exit(2);
            journal.MarkSent(id, At(1));
            report.step = 'S';
            if (write(out, &report, sizeof report) != sizeof report) _exit(2);
            journal.Observe(id, SaleState::Delivering, At(2));
            journal.Finish(id, {1.0, double(number), 1.0, false, At(3)});
            report.step = 'F';
            if (write(out, &report, sizeof report) != sizeof report) _exit(2);
        }
    } catch (...) {
        _exit(3);
    }
}

struct Expected {
    std::map<std::int64_t, SaleId> begun;  // by number
    std::map<SaleId, char> furthest;       // the last step reported
    std::size_t runs = 0;                  // each may leave one sale begun but not reported
};

// Kills a child after DELAY and adds what it reported to EXPECTED.
void RunAndKill(const std::string& path, std::int64_t first, std::chrono::microseconds delay, Expected& expected) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        JournalSales(path, fds[1], first);
    }
    close(fds[1]);
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;
    Report report{};
    while (read(fds[0], &report, sizeof report) == sizeof report) {
        if (report.step == 'B') expected.begun[report.number] = report.id;
        expected.furthest[report.id] = report.step;
    }
    close(fds[0]);
    ++expected.runs;
}

// Reopens, checks every reported call is kept and nothing doubled, then
// restarts and reconciles as the service would.
void CheckAndRecover(const std::string& path, const Expected& expected) {
    Journal journal = Journal::Open(path);
    std::map<std::int64_t, int> seen;
    for (const Sale& sale : journal.List({.limit = 1000000})) ++seen[std::int64_t(sale.price)];
    for (const auto& [number, count] : seen) ASSERT_EQ(count, 1) << "sale " << number << " doubled";
    ASSERT_LE(seen.size(), expected.begun.size() + expected.runs) << "more than one unreported sale a run";
    for (const auto& [number, id] : expected.begun) {
        const auto sale = journal.Fetch(id);
        ASSERT_TRUE(sale) << "sale " << number << " lost";
        ASSERT_EQ(std::int64_t(sale->price), number);
        const char furthest = expected.furthest.at(id);
        if (furthest == 'F') {
            ASSERT_EQ(sale->state, SaleState::Finished);
        } else if (furthest == 'S') {
            ASSERT_NE(sale->state, SaleState::Authorising);
        }
    }
    for (const Sale& open : journal.Restart(At(10))) journal.Reconcile(open.id, {false, 1.0, At(11)});
    for (const Sale& sale : journal.List({.limit = 1000000})) {
        ASSERT_TRUE(IsEnded(sale.state)) << sale.id;
        if (sale.state == SaleState::Failed) {
            ASSERT_EQ(sale.cause, "not sent before a restart");
        }
    }
}

void KillRepeatedly(const std::string& path, int runs) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay(0, 20000);
    Expected expected;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        RunAndKill(path, std::int64_t(run) * 1000000, std::chrono::microseconds(delay(random)), expected);
        CheckAndRecover(path, expected);
        if (::testing::Test::HasFatalFailure()) return;
    }
    EXPECT_GT(expected.begun.size(), 0u);
}

TEST_F(CrashTest, KilledChildren) { KillRepeatedly(path_, 25); }
TEST_F(CrashTest, ManyKills) { KillRepeatedly(path_, 400); }

}  // namespace
}  // namespace zarvik::journal::test
