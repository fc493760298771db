// price: set a nozzle's price.
#include "NozzleAction.h"
#include "OnLine.h"

namespace zarvik::host {

int RunPrice(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetNozzlePrice>(s, a); }

extern const Command kPriceCommand{
    "price", "set a nozzle's price", TargetValueOptions, CheckValue, OnSession<RunPrice>, false, false};

}  // namespace zarvik::host
