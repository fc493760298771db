// What the host prints, and how. Its output is UTF-8. The library's errors
// (zarvik::Exception and ESerialIO, also those the host raises itself like
// the library's) carry their texts in the host's code page (code page 1251
// in the Windows build, protocol/HostText.h); other errors are UTF-8. On Windows the console shows UTF-8 while the
// host runs (a Russian console is set to code page 866 otherwise).
#pragma once

#include <exception>
#include <string>

namespace zarvik::host {

// Call first in main; restores the console's code page at exit.
void PrepareConsole();

// The error's text in UTF-8, whichever side raised it, its control
// characters made visible (VisibleText.h): it may quote a dispenser's names.
std::string ErrorText(const std::exception& error);

}  // namespace zarvik::host
