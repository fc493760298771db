// What the station window (`zarvik-host gui`, host/stationwindow) is asked
// to show and record. Plain data without Qt, so the command line fills it
// in every build, with the window or without it.
#pragma once

#include <string>
#include <vector>

#include "station/StationFile.h"

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

}  // namespace zarvik::host
