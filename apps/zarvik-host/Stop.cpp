// stop: stop a nozzle.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunStop(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::StopNozzle>(s, a); }

extern const Command kStopCommand{"stop", "stop a nozzle", TargetOptions, CheckDevice, OnSession<RunStop>, false,
                                  false};

}  // namespace zarvik::host
