// The station window of the reference host (`zarvik-host gui`), built only
// with ZARVIK_WITH_GUI. Runs its own event loop and returns the exit code.
#pragma once

int RunStationGui(int argc, char** argv);
