// What a host calls a dispenser's state code: the one naming used by the
// command line (status, watch, demo) and the station window.
//
// A state code's upper five bits are its kind (0xC0 idle, 0xE8 authorised,
// 0xE0 nozzle up, 0xD8 delivering, 0xD0 finished or stopped), its lower
// three bits the nozzle it concerns. Any other kind (0xC8 never comes from a
// poll; 0 when no nozzle answered) is named "unknown".
#pragma once

#include <cstdint>

namespace zarvik::host {

enum class StateKind { Idle, Authorised, NozzleUp, Delivering, Finished, Unknown };

struct StateName {
    StateKind kind;
    const char* text;     // the command line's word: "idle", "authorised", "nozzle up", ...
    const char* russian;  // the station window's text (UTF-8): "Свободна", "Разрешён отпуск", ...
};

StateName NameDispenserState(std::uint8_t code);

}  // namespace zarvik::host
