// The host's commands. Each runs on an open session (except info), prints
// its result and the line result on stdout and returns the exit code; an
// error escapes as an exception (the caller prints it on stderr).
#pragma once

#include <string>

#include "Session.h"

namespace zarvik::host {

struct CommandArgs {
    int dispenser = 1;
    int nozzle = 1;
    int nozzles = 1;
    int address = 1;
    int code = 0;
    int count = 10;
    double value = 0.0;
};

int RunInfo(Session& s);
int RunOpen(Session& s);
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
int RunScan(Session& s);
int RunStats(Session& s, const CommandArgs& a);
void PrintStatistics(Session& s, std::ostream& out);

// The delivery demo on an embedded simulator; builds its own session.
int RunDemo(const SessionOptions& options);

}  // namespace zarvik::host
