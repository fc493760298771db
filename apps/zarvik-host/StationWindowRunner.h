// Who runs the station window for the gui command. zarvik-host itself links
// no Qt: its gui command hands the whole command line to the program that
// has the window (zarvik-station-window, installed with the windows), whose
// StationWindowMain.cpp sets the runner before main().
#pragma once

#include "station/WindowOptions.h"

namespace zarvik::host {

using StationWindowRunner = int (*)(const GuiOptions& options, int argc, char** argv);

// Set in the program that links the station window; null in zarvik-host.
extern StationWindowRunner g_stationWindowRunner;

// The program with the window, as a path relative to the running program's
// folder: beside it in the build tree, under libexec once installed.
inline constexpr const char* kStationWindowProgram = "zarvik-station-window";

}  // namespace zarvik::host
