// What totals prints, however the totals were read (on the lines
// themselves, Totals.cpp, or through the station service,
// ServiceCommands.cpp): one entry per nozzle, grouped by line and
// dispenser in the station's order, printed as the table, CSV or the JSON
// document Totals.h describes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Output.h"
#include "station/StationFile.h"

namespace zarvik::host {

struct NozzleTotal {
    const StationLine* line;            // in the station printed with it
    const StationDispenser* dispenser;  // in `line`
    int nozzle;
    std::optional<double> total;  // litres; nothing when not read
    std::string error;            // why not
};

// `time`: when the totals were read, ISO 8601 with the offset from UTC.
void PrintTotals(const StationFile& station, const std::vector<NozzleTotal>& totals, const std::string& time,
                 OutputFormat format);

}  // namespace zarvik::host
