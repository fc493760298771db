// The commands on one line's session, each defined in its own file beside
// its registration (Registry.h). Each runs on an open session (except info),
// prints its result and the line result on stdout (one JSON document instead
// with CommandArgs::json where the command has it, Output.h) and returns the
// exit code (hostkit/ExitCodes.h: 0 when the line result is good, 3 when it
// is not); an error escapes as an exception (the caller prints it on stderr,
// ExitCodeOf() gives its code).
#pragma once

#include <string>

#include "ParamsCommands.h"
#include "station/Session.h"

namespace zarvik::host {

struct CommandArgs {
    int dispenser = 1;
    int nozzle = 1;
    int nozzles = 1;
    int address = 1;
    int code = 0;
    int count = 0;  // watch: polls (0: until Ctrl-C); stats: polls (0: 10)
    double value = 0.0;
    bool json = false;   // one JSON document instead of text lines
    bool stats = false;  // the line statistics too (in the document with json)
    ParamsArgs params;   // param-write, params-dump, params-restore
};

int RunInfo(Session& s, const CommandArgs& a);
int RunOpen(Session& s, const CommandArgs& a);
int RunStatus(Session& s, const CommandArgs& a);
int RunStart(Session& s, const CommandArgs& a);
int RunStop(Session& s, const CommandArgs& a);
int RunReset(Session& s, const CommandArgs& a);
int RunDoseLitres(Session& s, const CommandArgs& a);
int RunDoseMoney(Session& s, const CommandArgs& a);
int RunPrice(Session& s, const CommandArgs& a);
int RunTotal(Session& s, const CommandArgs& a);
int RunParamRead(Session& s, const CommandArgs& a);
int RunTables(Session& s, const CommandArgs& a);
int RunWatch(Session& s, const CommandArgs& a);
int RunScan(Session& s, const CommandArgs& a);
int RunStats(Session& s, const CommandArgs& a);

// The delivery demo on an embedded simulator; builds its own session.
int RunDemo(const SessionOptions& options);

}  // namespace zarvik::host
