// dose-money: preset a dose in money.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunDoseMoney(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetMoneyDose>(s, a); }

extern const Command kDoseMoneyCommand{
    "dose-money", "preset a dose in money", TargetValueOptions, CheckValue, OnSession<RunDoseMoney>, false, false};

}  // namespace zarvik::host
