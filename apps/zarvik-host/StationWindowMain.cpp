// Linked only into zarvik-station-window: the gui command runs the window
// in this process.
#include "StationWindowRunner.h"
#include "stationwindow/StationGui.h"

namespace {

[[maybe_unused]] const bool g_runnerSet = [] {
    zarvik::host::g_stationWindowRunner = &zarvik::host::RunStationGui;
    return true;
}();

}  // namespace
