// start: start a nozzle.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunStart(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::StartNozzle>(s, a); }

extern const Command kStartCommand{"start", "start a nozzle", TargetOptions, CheckDevice, OnSession<RunStart>, false,
                                   false};

}  // namespace zarvik::host
