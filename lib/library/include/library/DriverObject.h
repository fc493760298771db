// The driver object of the most recent factory call (empty at load). The
// calibration dialog reaches the driver through it. Objects it replaced are
// not freed: the host owns them.
#pragma once

#include "driver/VM30.h"

namespace zarvik {

extern TVM30* DriverObject;

// What both factories do: hand over the application handle, create the
// object, make it the current driver.
TVM30* CreateDriver(std::int32_t options, std::intptr_t appHandle, TPortManager* portManager);

}  // namespace zarvik
