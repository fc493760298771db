// Times as the host's JSON and CSV carry them: ISO 8601 local time with its
// offset from UTC, "2026-12-08T10:41:07+03:00" (seconds), or with
// microseconds "2026-12-08T10:41:07.123456+03:00". ParseIsoTime reads them
// back: "YYYY-MM-DDTHH:MM:SS", an optional fraction, then "Z" or "±HH:MM"
// (without a zone, local time when MISSING says so); a date that does not
// exist (February 31) is refused, never moved on to another day.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zarvik::host {

std::string IsoTime(std::chrono::system_clock::time_point time, bool withMicroseconds = false);

enum class MissingZone { Refused, LocalTime };
std::optional<std::chrono::system_clock::time_point> ParseIsoTime(std::string_view text,
                                                                  MissingZone missing = MissingZone::Refused);

}  // namespace zarvik::host
