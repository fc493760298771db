// The station window of the reference host (`zarvik-host gui`), built only
// with ZARVIK_WITH_GUI. The command line hands over station/WindowOptions.h;
// this header needs no Qt.
#pragma once

#include "station/WindowOptions.h"

namespace zarvik::host {

// Runs the window's own event loop and returns the exit code (hostkit/ExitCodes.h).
// argc and argv go to QApplication.
int RunStationGui(const GuiOptions& options, int argc, char** argv);

}  // namespace zarvik::host
