// The driver library's factory GetVM30. On Linux libzarvik links
// libZarvikTrk.so.1; on Windows it loads ZarvikTrk.dll from its own folder
// (the DLL exports GetVM30 undecorated, which a 32-bit stdcall import cannot
// be linked against). Throws std::runtime_error when it cannot be had.
#pragma once

#include "zarvik/exports.h"

namespace zarvik::capi {

GetVM30Fn DriverFactory();

}  // namespace zarvik::capi
