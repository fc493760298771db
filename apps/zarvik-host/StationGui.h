// The station window of the reference host (`zarvik-host gui`), built only
// with ZARVIK_WITH_GUI. The command line is parsed in Main.cpp; this header
// carries what it hands over and needs no Qt.
#pragma once

#include <string>
#include <vector>

#include "StationFile.h"

namespace zarvik::host {

struct GuiOptions {
    // A station file's lines: their devices, settings and dispensers (then
    // port, line, dispensers and nozzles are unused).
    std::vector<StationLine> station;
    std::string port;  // empty (and no station): an embedded simulated station on a pseudo-terminal
    int line = 1;
    int dispensers = 2;
    int nozzles = 3;
    std::string library;           // empty: DefaultLibraryPath()
    std::string capture;           // pcap file of every frame on the line; empty: none
    bool overwrite = false;        // the capture may replace an existing regular file
    std::string screenshot;        // render to this PNG and exit; empty: run until closed
    double screenshotAfter = 1.5;  // seconds of polling before the picture
    bool openParams = false;       // with screenshot: the parameter window after its read-all pass
    bool openCalibration = false;  // with screenshot: the calibration dialog over table 2
};

// Runs the window's own event loop and returns the exit code (ExitCodes.h).
// argc and argv go to QApplication.
int RunStationGui(const GuiOptions& options, int argc, char** argv);

}  // namespace zarvik::host
