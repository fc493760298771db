// The simulator's console: what an attendant does at the pump's own keypad
// and nozzle, one command a line (zarvik-sim --console reads them on stdin):
//
//   deliver D N LITRES   preset LITRES on nozzle N of dispenser D and start
//   lift D N             lift nozzle N out of its holder
//   hang D N             hang it up
//   show D N             the nozzle's own record: "ok status S volume V money M total T"
//
// Each command answers one line: "ok", or "error: " and why (an unknown
// command, a malformed number, a dispenser or nozzle the station does not
// have, a start the dispenser refused).
#pragma once

#include <string>
#include <string_view>

#include "sim/Station.h"

namespace zarvik::sim {

std::string RunConsoleCommand(Station& station, std::string_view command, TimePoint now);

}  // namespace zarvik::sim
