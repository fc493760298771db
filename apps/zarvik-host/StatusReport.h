// What status prints, however the dispenser was polled (on its line,
// Status.cpp, or through the station service, ServiceCommands.cpp): the
// dispenser's state and each nozzle's own state, volume and money, as text
// lines or as the JSON document's body.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Output.h"

namespace zarvik::host {

struct NozzleValues {
    std::uint8_t state = 0;
    double litres = 0.0;
    double money = 0.0;
};

struct DispenserStatusView {
    int line = 0;
    int dispenser = 0;
    std::uint8_t state = 0;
    int stateNozzle = 0;
    std::vector<std::optional<NozzleValues>> nozzles;  // nozzle k at k - 1; nothing: not polled
};

void PrintStatus(const DispenserStatusView& st);
// {"line", "dispenser", "state", "stateNozzle", "nozzles": [{"number", "polled", "state", "volume", "money"}]}
json StatusJson(const DispenserStatusView& st);

}  // namespace zarvik::host
