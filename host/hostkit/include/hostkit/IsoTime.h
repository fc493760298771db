// Times as the host's JSON and CSV carry them: ISO 8601 local time with its
// offset from UTC, "2026-12-08T10:41:07+03:00" (seconds), or with
// microseconds "2026-12-08T10:41:07.123456+03:00".
#pragma once

#include <chrono>
#include <string>

namespace zarvik::host {

std::string IsoTime(std::chrono::system_clock::time_point time, bool withMicroseconds = false);

}  // namespace zarvik::host
