// `zarvik-host gui --screenshot FILE`: the picture of the station window, of
// the parameter window after its read-all pass (--open-params), or of the
// calibration dialog opened from the parameter window's table 2
// (--open-calibration). Windows are found by their object names.
#pragma once

#include "stationwindow/StationGui.h"

namespace zarvik::host {

class StationWindow;

// Takes the picture the options ask for and ends the application's loop;
// exitCode becomes 0 once the picture is written, else 1. Runs on the GUI thread
// once the station polled.
void TakeScreenshot(StationWindow* window, const GuiOptions& options, int& exitCode);

}  // namespace zarvik::host
