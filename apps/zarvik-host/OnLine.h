// What the commands on one line's session share: the options that name a
// dispenser, nozzle, value or address; the checks made before anything is
// opened (the station file's line, VALUE, a device); and the run itself on
// a session of its own, whose driver errors are reported while its library
// is still loaded (their text lives there).
#pragma once

#include "Registry.h"

namespace CLI {
class App;
}

namespace zarvik::host {

// --dispenser (optional) and --nozzles: a count.
void NozzlesOptions(CLI::App& c, Cli& cli);
// --dispenser and --nozzle, both required: a command that changes a
// dispenser names it and its nozzle, no default.
void TargetOptions(CLI::App& c, Cli& cli);
// TargetOptions and VALUE.
void TargetValueOptions(CLI::App& c, Cli& cli);
// --dispenser and --nozzle, both optional.
void NozzleOptions(CLI::App& c, Cli& cli);
// --address.
void AddressOptions(CLI::App& c, Cli& cli);

// With --station: the line's device and settings, and the dispenser and
// nozzles the command names must be on that line.
void CheckLine(Invocation& in);
// CheckLine, and a device to open is given.
void CheckDevice(Invocation& in);
// CheckLine, VALUE read as a decimal, and CheckDevice.
void CheckValue(Invocation& in);

using SessionRun = int (*)(Session& s, const CommandArgs& a);

// Runs `run` on a session built from the command line; --stats prints the
// line statistics after it.
int RunOnSession(const Invocation& in, SessionRun run);
template <SessionRun Run>
int OnSession(Invocation& in) {
    return RunOnSession(in, Run);
}

}  // namespace zarvik::host
