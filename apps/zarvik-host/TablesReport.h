// What tables prints, however the descriptions were read (on the line,
// Tables.cpp, or through the station service, ServiceCommands.cpp): each
// table's line and its fields' lines as they come, and the JSON document's
// entries.
#pragma once

#include <optional>

#include "Output.h"
#include "station/Descriptions.h"

namespace zarvik::host {

// "table 1: NAME, rows R, fields F"
void PrintTableLine(const TableDescription& table);
// "  field 2: NAME, type T, size S, limits L..H" or "  field 2: no description"
void PrintFieldLine(int number, const std::optional<FieldDescription>& field);
// {"number", "name", "type", "size", "low", "high"} or {"number", "error": "no description"}
json FieldJson(int number, const std::optional<FieldDescription>& field);
// {"number", "name", "rows", "fields"}
json TableJson(const TableDescription& table, json fields);

}  // namespace zarvik::host
