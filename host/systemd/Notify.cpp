#include "systemd/Notify.h"

#include <systemd/sd-daemon.h>

#include <string>

namespace zarvik::systemd {

bool Ready(std::string_view status) {
    std::string message = "READY=1";
    if (!status.empty()) message += "\nSTATUS=" + std::string(status);
    return sd_notify(0, message.c_str()) > 0;
}

bool Stopping() { return sd_notify(0, "STOPPING=1") > 0; }

Watchdog::Watchdog() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) interval_ = std::chrono::microseconds(usec);
}

bool Watchdog::Tick(bool healthy, Clock::time_point now) {
    if (!Enabled() || !healthy) return false;
    if (sent_ && now - last_ < interval_ / 2) return false;
    if (sd_notify(0, "WATCHDOG=1") <= 0) return false;
    sent_ = true;
    last_ = now;
    return true;
}

WatchdogThread::WatchdogThread(std::function<bool()> healthy) : healthy_(std::move(healthy)) {
    if (!watchdog_.Enabled()) return;
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            lock.unlock();
            watchdog_.Tick(healthy_(), Watchdog::Clock::now());
            lock.lock();
            wake_.wait_for(lock, watchdog_.Interval() / 4, [this] { return stop_; });
        }
    });
}

WatchdogThread::~WatchdogThread() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

}  // namespace zarvik::systemd
