// How the commands print: text lines by default, one JSON document with
// --json (UTF-8, indented; errors still go to stderr and the exit code is
// the same), comma-separated values with --csv (totals). The shared pieces
// live here: the format chosen, the line result and the line statistics in
// text and JSON, the document itself, a CSV field.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>

#include "hostkit/ExitCodes.h"
#include "port/LineStatistics.h"

namespace zarvik::host {

class Session;
struct CommandArgs;
// Keys in the order the command writes them.
using json = nlohmann::ordered_json;

enum class OutputFormat { Text, Json, Csv };

// --json given to a command that has no document.
HostError JsonNotTaken();
// The format --json and --csv ask for (both: a usage error).
OutputFormat ChooseFormat(bool json, bool csv);

// The exit code of a command's last exchange: 0 when the line result is
// good, 3 when it is not.
int ResultCode(Session& s);
// "line result: N (meaning)", and when it is not good the line error with
// its text and the device's fault ("line error 302: ...: no such device").
void PrintLineResult(Session& s, std::ostream& out);
// The line result on stdout; returns ResultCode().
int PrintResult(Session& s);

// "192 (0xC0) idle"
std::string StateText(std::uint8_t code);
// {"code": 192, "name": "idle"}
json StateJson(std::uint8_t code);
// {"code": 3, "meaning": "bad reply or refused write", "lineError": 246,
//  "lineErrorText": "...", "cause": "..."}; the last three only when not good.
json LineResultJson(Session& s);

// The counters every line's statistics have, on a session or in the
// station service: exchanges, good, bad, timeouts, device errors, reopens.
struct LineCounters {
    std::uint64_t exchanges = 0, good = 0, bad = 0, timeouts = 0, deviceErrors = 0, reopens = 0;
};
// "line N statistics: exchanges E, good G, bad B, timeouts T, device errors D, reopens R"
void PrintCounters(int line, const LineCounters& c, std::ostream& out);
// {"exchanges", "good", "bad", "timeouts", "deviceErrors", "reopens"}
json CountersJson(const LineCounters& c);

void PrintStatistics(Session& s, std::ostream& out);
json StatisticsJson(const port::LineStatistics& st);

// The document on stdout; text that is not UTF-8 is replaced rather than
// fail it (a dispenser's code page 1251 is converted already).
void PrintDocument(const json& doc);
// Adds "lineResult" (and "statistics" when asked for) and prints the
// document; returns ResultCode().
int EmitJson(Session& s, const CommandArgs& a, json doc);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);

}  // namespace zarvik::host
