// An action on one nozzle (with its value, for doses and prices): the line
// opened, the operation called, the exit code from its line result.
// start, stop, reset, dose-litres, dose-money and price are each one of
// these.
#pragma once

#include <type_traits>

#include "Commands.h"
#include "Output.h"
#include "loader/DriverSlots.h"

namespace zarvik::host {

template <auto Operation>
int RunNozzleAction(Session& s, const CommandArgs& a) {
    s.Open();
    if constexpr (std::is_invocable_v<decltype(Operation), TDriver25*, slots::I32, slots::I32, slots::I32>)
        Operation(s.Driver(), s.Line(), a.dispenser, a.nozzle);
    else
        Operation(s.Driver(), s.Line(), a.dispenser, a.nozzle, a.value);
    return PrintResult(s);
}

}  // namespace zarvik::host
