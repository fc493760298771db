// The notifications against a notify socket of the test's own (as systemd
// gives a service), the watchdog's pace and health rule, and the journal's
// log lines.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "systemd/Journal.h"
#include "systemd/Notify.h"

namespace zarvik::systemd {
namespace {

using namespace std::chrono_literals;

// A datagram socket in NOTIFY_SOCKET, as the service manager listens.
class NotifySocket {
public:
    NotifySocket() : path_(testing::TempDir() + "notify-" + std::to_string(getpid())) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path_.copy(a.sun_path, sizeof a.sun_path - 1);
        unlink(path_.c_str());
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        setenv("NOTIFY_SOCKET", path_.c_str(), 1);
    }
    ~NotifySocket() {
        unsetenv("NOTIFY_SOCKET");
        close(fd_);
        unlink(path_.c_str());
    }
    // The next message, "" when none is waiting.
    std::string Next() {
        char buffer[512];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

private:
    std::string path_;
    int fd_ = -1;
};

TEST(Notify, ReadyAndStopping) {
    EXPECT_FALSE(Ready());  // no service manager: nothing sent
    NotifySocket manager;
    EXPECT_TRUE(Ready("listening on http://127.0.0.1:8710"));
    EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=listening on http://127.0.0.1:8710");
    EXPECT_TRUE(Stopping());
    EXPECT_EQ(manager.Next(), "STOPPING=1");
}

TEST(Watchdog, PingsAtHalfTheIntervalOnlyWhileHealthy) {
    NotifySocket manager;
    setenv("WATCHDOG_USEC", "2000000", 1);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    Watchdog watchdog;
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    ASSERT_TRUE(watchdog.Enabled());
    EXPECT_EQ(watchdog.Interval(), 2s);
    const auto t0 = Watchdog::Clock::now();
    struct Step {
        std::chrono::milliseconds at;
        bool healthy;
        bool sent;
    };
    const Step steps[] = {{0ms, false, false},    {0ms, true, true},      {900ms, true, false}, {1000ms, true, true},
                          {2500ms, false, false}, {3000ms, false, false}, {3100ms, true, true}, {3200ms, true, false}};
    for (const Step& s : steps) {
        EXPECT_EQ(watchdog.Tick(s.healthy, t0 + s.at), s.sent) << s.at.count() << " ms";
        EXPECT_EQ(manager.Next(), s.sent ? "WATCHDOG=1" : "") << s.at.count() << " ms";
    }
}

TEST(Watchdog, NotForAnotherProcessOrWithoutInterval) {
    NotifySocket manager;
    setenv("WATCHDOG_USEC", "2000000", 1);
    setenv("WATCHDOG_PID", "1", 1);  // meant for another process
    const Watchdog other;
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    Watchdog none;
    EXPECT_FALSE(other.Enabled());
    EXPECT_FALSE(none.Tick(true, Watchdog::Clock::now()));
    EXPECT_FALSE(WatchdogThread([] { return true; }).Running());
    EXPECT_EQ(manager.Next(), "");
}

TEST(Journal, PrefixesUnderTheJournalWordsElsewhereAlwaysOneLine) {
    struct Case {
        bool journal;
        int priority;
        const char* message;
        const char* line;
    };
    const Case cases[] = {
        {true, kErr, "cannot open /dev/ttyS0", "<3>cannot open /dev/ttyS0\n"},
        {true, kInfo, "GET /api/v1/pumps\n<0>forged", "<6>GET /api/v1/pumps\\x0A<0>forged\n"},
        {true, 42, "clamped", "<7>clamped\n"},
        {false, kWarning, "line 2 dead\r\n", "warning: line 2 dead\n"},
        {false, -1, "x\x1b[2J", "emerg: x\\x1B[2J\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        Journal(out, c.journal).Logger()(c.priority, c.message);
        EXPECT_EQ(out.str(), c.line);
    }
}

TEST(Journal, StderrIsJournalOnlyWhenTheStreamIsOurs) {
    struct stat st {};
    ASSERT_EQ(fstat(2, &st), 0);
    const std::string ours = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::pair<const char*, bool> cases[] = {{ours.c_str(), true}, {"1:2", false}, {"garbage", false}};
    for (const auto& [value, expected] : cases) {
        setenv("JOURNAL_STREAM", value, 1);
        EXPECT_EQ(StderrIsJournal(), expected) << value;
    }
    unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(StderrIsJournal());
}

}  // namespace
}  // namespace zarvik::systemd
