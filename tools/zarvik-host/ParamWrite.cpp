#include <iostream>

#include "DriverSlots.h"
#include "ParamsCommands.h"

namespace zarvik::host {

int RunParamWrite(Session& s, const CommandArgs& a) {
    s.Open();
    slots::WriteParameter(s.Driver(), s.Line(), a.address, a.code, static_cast<std::int32_t>(a.value));
    s.PrintLineResult(std::cout);
    return 0;
}

}  // namespace zarvik::host
