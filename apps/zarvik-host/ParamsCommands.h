// The parameter commands of the host, each on an open session:
//   param-write     one value, checked against its field's description
//                   before anything is sent;
//   params-dump     every table, field description and value of a row, to a
//                   file that is complete or not written (backup/ParamsDocument.h);
//   params-restore  a dump checked as a whole against the file's checksum,
//                   the target and the dispenser's own layout, then compared
//                   and, with --apply, written after a backup and read back.
// They print their errors on stderr themselves and return an exit code of
// hostkit/ExitCodes.h; zarvik::ESerialIO from the driver escapes to the caller.
#pragma once

#include <string>

#include "station/Session.h"

namespace CLI {
class App;
}

namespace zarvik::host {

struct ParamsArgs {
    int address = 1;        // param-write, params-dump
    int row = 1;            // params-dump
    int code = 0;           // param-write: 1TTRRFF
    std::string value;      // param-write: the value as typed
    bool force = false;     // values outside the field's limits
    int attempts = 5;       // per request, for reads and verified writes
    std::string output;     // params-dump: the file; empty: stdout
    std::string file;       // params-restore: the dump
    int targetAddress = 0;  // params-restore: 0 = the file's
    int targetRow = 0;      // params-restore: 0 = the file's
    bool apply = false;
    bool otherTarget = false;
    bool ignoreChecksum = false;
    std::string backup;  // params-restore --apply: empty = beside the dump
};

// --attempts, bound to `a`.
void AddAttempts(CLI::App& command, ParamsArgs& a);

int RunParamWrite(Session& s, const ParamsArgs& a);
int RunParamsDump(Session& s, const ParamsArgs& a);
int RunParamsRestore(Session& s, const ParamsArgs& a);

}  // namespace zarvik::host
