// --json: a command that has it prints one JSON document (UTF-8, indented)
// on stdout instead of its text lines; errors still go to stderr and the
// exit code is the same. Every document carries the line result of the
// last exchange, and the line statistics with --stats.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>

#include "port/LineStatistics.h"

namespace zarvik::host {

class Session;
struct CommandArgs;
// Keys in the order the command writes them.
using json = nlohmann::ordered_json;

// {"code": 192, "name": "idle"}
json StateJson(std::uint8_t code);
// {"code": 3, "meaning": "bad reply or refused write", "lineError": 246,
//  "lineErrorText": "...", "cause": "..."}; the last three only when not good.
json LineResultJson(Session& s);
json StatisticsJson(const port::LineStatistics& st);

// Adds "lineResult" (and "statistics" when asked for) and prints the
// document; returns the command's exit code from the line result (0 when
// good, 3 otherwise).
int EmitJson(Session& s, const CommandArgs& a, json doc);

}  // namespace zarvik::host
