#include "Lifecycle.h"

#include <iostream>

#include "systemd/Journal.h"
#include "systemd/Notify.h"

namespace zarvik::zarvikd {

namespace {

systemd::Journal& TheJournal() {
    static systemd::Journal journal(std::cerr);
    return journal;
}

}  // namespace

http::Logger MakeLogger() { return TheJournal().Logger(); }

void NotifyReady(const std::string& status) { systemd::Ready(status); }

// Called on every tick while the line workers move on; the watchdog sends
// at half its interval.
void NotifyWatchdog() {
    static systemd::Watchdog watchdog;
    watchdog.Tick(true, systemd::Watchdog::Clock::now());
}

void NotifyStopping() { systemd::Stopping(); }

}  // namespace zarvik::zarvikd
