// dose-litres: preset a dose in litres.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunDoseLitres(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetVolumeDose>(s, a); }

extern const Command kDoseLitresCommand{
    "dose-litres", "preset a dose in litres", TargetValueOptions, CheckValue, OnSession<RunDoseLitres>, false, false};

}  // namespace zarvik::host
