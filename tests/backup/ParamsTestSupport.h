// Dumps, sealed documents and scratch folders for the parameter command tests.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "backup/ParamsDocument.h"

namespace zarvik::host::testing {

// Address 1, row 2: table 1 (3 rows) with fields of 1, 2, 0 and 4 bytes,
// table 2 (1 row, so no values in row 2) with one field.
ParamsDump SmallDump();

// The document's text with a checksum that matches it, whatever it holds.
std::string Seal(nlohmann::json document);

// The JSON pointers of a reading's problems, in order.
std::vector<std::string> Paths(const DumpReading& reading);

// A new empty folder for this test process, removed at exit.
std::filesystem::path ScratchFolder(const std::string& name);

}  // namespace zarvik::host::testing
