// The reads a caller asks of a line's worker (LineWorker::Run), each run on
// the worker's thread between two dispenser polls. Their documents are those
// of `zarvik-host totals --json` and `zarvik-host tables --json`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "service/LineWorker.h"
#include "station/StationFile.h"

namespace zarvik::service {

// The line did not answer the read (no reply, a bad reply, a device error);
// the text is the cause.
class LineFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The totals document's entry for one line: every nozzle of its dispensers
// (only `dispenser` when given) with its number and name, and what `fill`
// adds to it: its "total" (or null) and the "error" that kept it unread.
using NozzleFill = std::function<void(json& nozzle, const host::StationDispenser& dispenser, int number)>;
json LineTotalsEntry(const host::StationLine& line, std::optional<int> dispenser, const NozzleFill& fill);

// That entry with each nozzle's total read through the driver. Never throws
// for a nozzle that failed.
json ReadLineTotals(LineContext& context, const host::StationLine& line, std::optional<int> dispenser);

// One nozzle's litres total (operation 19); nullopt with ERROR set to why
// when the read was not good. Never throws for the line's failure.
std::optional<double> ReadNozzleTotal(LineContext& context, int dispenser, int nozzle, std::string& error);

// {"address", "complete", "tables": [...]}: tables from 1 until the first
// that has no good description. Throws LineFailure when an exchange fails.
json ReadTables(LineContext& context, int address);

// A parameter's value (operation 17). Throws LineFailure when the reply was
// not good.
std::int32_t ReadParameterValue(LineContext& context, int address, std::int32_t code);

}  // namespace zarvik::service
