// The one text the host gives a moment in time where a person or a program
// reads it back: ISO 8601 in local time, to the second, with the UTC offset
// ("2026-12-08T13:04:52+00:00").
#pragma once

#include <chrono>
#include <string>

namespace zarvik::host {

std::string IsoTime(std::chrono::system_clock::time_point time);

}  // namespace zarvik::host
