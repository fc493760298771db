// Reads a dispenser's parameter layout (every table and field description)
// and the values of one row for the parameter commands. Each request is
// tried up to `attempts` times; one that never gets a good reply ends the
// read with a ReadFailure naming it, so nothing partial is ever returned.
//
// Tables are numbered from 1 without gaps: the list ends at the first table
// that the dispenser answers without a description (a good reply to that
// very request). A bad reply or none is never taken for the end.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/ParamsDocument.h"
#include "hostkit/ExitCodes.h"
#include "station/Session.h"

namespace zarvik::host {

struct ReadFailure : std::runtime_error {
    // kExitExchangeFailed when the last attempt got no reply, kExitNotGood
    // when the dispenser answered, but not well, kExitInterrupted when a
    // signal came between two requests (Interrupt.h).
    ReadFailure(const std::string& what, int exitCode) : std::runtime_error(what), exitCode(exitCode) {}
    int exitCode;
};

class ParamsReader {
public:
    ParamsReader(Session& session, int address, int attempts);

    // Every table with its field descriptions; values empty.
    std::vector<DumpTable> Layout();
    // One table without its fields (their count in `fields.size()`);
    // nullopt when the dispenser has no such table.
    std::optional<DumpTable> Table(int table);
    DumpField Field(int table, int field);
    // The raw value (unsigned, within the field's width) of one cell.
    std::int64_t Value(int table, int row, const DumpField& field);
    // Fills the values of `dump.row` wherever the row and value bytes exist.
    void ReadValues(ParamsDump& dump);

    // Requests repeated so far.
    int Repeats() const { return repeats_; }

private:
    Session& session_;
    int address_;
    int attempts_;
    int repeats_ = 0;
};

}  // namespace zarvik::host
