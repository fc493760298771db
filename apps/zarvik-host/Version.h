// zarvik-host --version: the tool's version, the driver library's (read
// from the name of the file the dynamic loader took, libZarvikTrk.so.1.0.0.35
// once its links are followed; "version unknown" for a file without one) and
// the driver's own information text (operation 1, converted from code page
// 1251 for the terminal). Exit code 0, or 4 when the library does not load.
#pragma once

#include <iosfwd>
#include <string>

#include "station/Session.h"

namespace zarvik::host {

int RunVersion(const SessionOptions& options, std::ostream& out);

// "1.0.0.35" for ".../libZarvikTrk.so.1.0.0.35"; empty when the name carries
// no version after ".so.".
std::string LibraryVersionOf(const std::string& file);

}  // namespace zarvik::host
