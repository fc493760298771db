// The few calls of the host that differ between POSIX and Windows, each
// behind one small function.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace zarvik::host {

// True when standard output is a terminal (progress bars go there only).
bool StdoutIsTerminal();

// The local calendar time of a moment (the time zone's rules applied).
std::tm LocalCalendar(std::time_t time);

// Local time with microseconds: "10:41:07.123456", or with the date in
// front ("2026-12-08 10:41:07.123456").
std::string LocalTimeText(std::chrono::system_clock::time_point time, bool withDate);

}  // namespace zarvik::host
