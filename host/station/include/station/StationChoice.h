// What a command runs on when a station file is given: the line it chose
// (--line, else the station's only line), and whether the dispenser and
// nozzles it names are on that line. Every refusal is a UsageError naming
// the file and what it has.
#pragma once

#include <optional>
#include <string>

#include "station/StationFile.h"

namespace zarvik::host {

// `line` when given (it must be one of the station's), else the only line.
const StationLine& ChooseLine(const StationFile& station, std::optional<int> line);

// The whole station, or only its line `line` when given.
StationFile StationOrLine(const StationFile& station, std::optional<int> line);

// What a one-line command names; a member is empty (null) when the command
// does not take that option.
struct LineTarget {
    std::optional<int> dispenser;  // --dispenser
    int* nozzles = nullptr;        // --nozzles: set to the dispenser's count when not given
    bool nozzlesGiven = false;
    std::optional<int> nozzle;  // --nozzle
};

// Checks `target` against `line` of `station`; fills a count not given.
void CheckLineTarget(const StationFile& station, const StationLine& line, const LineTarget& target);

// Dispensers 1..`dispensers` with `nozzles` each on one line, as the command
// line names them (the plan's source is "the command line").
StationFile CommandLineStation(int line, const std::string& device, int dispensers, int nozzles);

}  // namespace zarvik::host
