// reset: reset a dispenser and stop the nozzle.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunReset(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::ResetDispenser>(s, a); }

extern const Command kResetCommand{
    "reset", "reset a dispenser and stop the nozzle", TargetOptions, CheckDevice, OnSession<RunReset>, false, false};

}  // namespace zarvik::host
