// zarvik-host --version: the tool's version, the driver library's (the
// project version both are built from, and the file that was loaded) and
// the driver's own information text (operation 1, converted from code page
// 1251 for the terminal). Exit code 0, or 4 when the library does not load.
#pragma once

#include <iosfwd>

#include "Session.h"

namespace zarvik::host {

int RunVersion(const SessionOptions& options, std::ostream& out);

}  // namespace zarvik::host
