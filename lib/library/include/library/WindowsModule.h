// The library's windows (parameter window, calibration dialog, menu entry)
// are a module of their own, zarvik/zarvik-windows.so beside the library,
// so that a host without a display loads no Qt. The library opens it at load
// when it is there and hands operation 24 to it; without it operation 24
// raises as in a library built without windows. A module that is there but
// does not load makes operation 24 raise with the loader's cause.
#pragma once

#include <cstdint>

namespace zarvik::windows {

// The module's file, relative to the library's folder.
inline constexpr char kModuleFile[] = "zarvik/zarvik-windows.so";

// Its entry points (extern "C"): the current driver object and application
// handle handed over, and operation 24's body (driver/VM30.h MenuEntryHook).
inline constexpr char kContextEntry[] = "ZarvikWindowsContext";
inline constexpr char kMenuEntryEntry[] = "ZarvikWindowsMenuEntry";

inline constexpr char kModuleNotLoaded[] =
    "Окно «Программирование параметров ТРК» недоступно: модуль окон не загружен: ";

// After a factory call: the module learns the new current driver object and
// application handle (its windows read them). Nothing without the module.
void DriverCreated();

}  // namespace zarvik::windows
