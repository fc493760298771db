// How zarvikd tells its supervisor what it does, and where its log goes.
// For now the log goes to stderr, each line prefixed "<PRIORITY>" as
// journald reads a service's stderr; readiness, the watchdog and stopping
// are no-ops. The systemd layer (host/systemd) plugs in here: main calls
// NotifyReady once it serves, NotifyWatchdog on every tick while every line
// worker moves on, NotifyStopping when a stop signal came.
#pragma once

#include <string>

#include "httpserver/HttpTypes.h"

namespace zarvik::zarvikd {

http::Logger MakeLogger();
void NotifyReady(const std::string& status);
void NotifyWatchdog();
void NotifyStopping();

}  // namespace zarvik::zarvikd
