// The parameter window as the rest of the library reaches it. With the
// windows built the UI layer defines it (ui/ParamFrame.cpp); a library built
// without windows (-DZARVIK_WITH_GUI=OFF, and every Windows build) raises
// zarvik::Exception with kNoParamWindow instead of opening anything.
#pragma once

#include "driver/VM30.h"

namespace zarvik {

inline constexpr char kNoParamWindow[] =
    "Окно «Программирование параметров ТРК» недоступно: библиотека собрана без окон";

// Shows the window modally for driver.
void ShowParamWindow(TVM30* driver);

}  // namespace zarvik
