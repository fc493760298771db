// The parameter commands of the host: param-write (one value), params-dump
// (every table, field description and value of a row as JSON) and
// params-restore (a dump compared with the dispenser and written back).
#pragma once

#include "Commands.h"
#include "Session.h"

namespace zarvik::host {

int RunParamWrite(Session& s, const CommandArgs& a);
int RunParamsDump(Session& s, const CommandArgs& a);
int RunParamsRestore(Session& s, const CommandArgs& a);

}  // namespace zarvik::host
