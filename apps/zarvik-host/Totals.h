// zarvik-host totals: every nozzle's total on every dispenser of a line or
// of a whole station, for a shift close. Every nozzle is read even when
// others fail; a nozzle that could not be read is shown as such (never as
// a number), and the exit code is then that of the worst failure
// (hostkit/ExitCodes.h: 4 a line that does not open, 1 no answer, 3 not good).
//
// Text: a table (line, dispenser, nozzle, total in litres, names or the
// reason it was not read). --csv: one row per nozzle,
//   line,dispenser,nozzle,total_litres,dispenser_name,nozzle_name,error
// The time: ISO 8601 with its offset from UTC ("2026-12-08T10:41:07+03:00").
// --json: {"time", "station", "complete", "lines": [{"line", "device", "name",
//   "dispensers": [{"number", "name", "nozzles": [{"number", "name", "total"
//   (null when not read), "error" (only when not read)}]}]}]}
#pragma once

#include "Output.h"
#include "station/Session.h"
#include "station/StationFile.h"

namespace zarvik::host {

// Reads the totals of every line of `station` with a session each, built
// from `base` (device, line and settings replaced by the line's).
int RunTotals(const StationFile& station, const SessionOptions& base, OutputFormat format);

}  // namespace zarvik::host
