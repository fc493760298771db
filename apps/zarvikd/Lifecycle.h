// How zarvikd tells its supervisor what it does, and where its log goes
// (host/systemd): log lines on stderr, with journald's "<PRIORITY>" prefix
// when stderr is the journal, else with the level's word; readiness, the
// watchdog and stopping through sd_notify (no-ops outside systemd). main
// calls NotifyReady once it serves, NotifyWatchdog on every tick while every
// line worker moves on, NotifyStopping when a stop signal came.
#pragma once

#include <string>

#include "httpserver/HttpTypes.h"

namespace zarvik::zarvikd {

http::Logger MakeLogger();
void NotifyReady(const std::string& status);
void NotifyWatchdog();
void NotifyStopping();

}  // namespace zarvik::zarvikd
