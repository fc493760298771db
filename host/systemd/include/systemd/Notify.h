// The service manager's notifications (sd_notify): readiness, stopping and
// the watchdog. Outside systemd (no NOTIFY_SOCKET) each is a no-op.
//
// The watchdog is fed only while the caller says the service is healthy:
// its own threads alive and turning (pollers polling, the server serving),
// never whether the dispensers answer; a dead line is the service working,
// a stuck poller is not. Then WATCHDOG=1 goes out at half the interval
// systemd gave (WatchdogSec), so one late turn does not get it killed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

namespace zarvik::systemd {

// READY=1 (and STATUS=status when given): the service serves. True when sent.
bool Ready(std::string_view status = {});
// STOPPING=1: the service is shutting down. True when sent.
bool Stopping();

class Watchdog {
public:
    using Clock = std::chrono::steady_clock;

    // Reads WATCHDOG_USEC/WATCHDOG_PID (sd_watchdog_enabled) once.
    Watchdog();
    bool Enabled() const { return interval_.count() > 0; }
    std::chrono::microseconds Interval() const { return interval_; }

    // Sends WATCHDOG=1 when enabled, `healthy`, and half an interval has
    // passed since the last one sent (or none was); true when it sent.
    bool Tick(bool healthy, Clock::time_point now);

private:
    std::chrono::microseconds interval_{0};
    bool sent_ = false;
    Clock::time_point last_{};
};

// A thread that asks `healthy` every quarter interval and ticks the
// watchdog; none when the watchdog is not enabled. Stops in its destructor.
class WatchdogThread {
public:
    explicit WatchdogThread(std::function<bool()> healthy);
    ~WatchdogThread();
    WatchdogThread(const WatchdogThread&) = delete;
    WatchdogThread& operator=(const WatchdogThread&) = delete;
    bool Running() const { return thread_.joinable(); }

private:
    Watchdog watchdog_;
    std::function<bool()> healthy_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace zarvik::systemd
