// The parsed command line: every option is bound to a member here, the
// global ones by Main.cpp and each command's by the command's own file.
#pragma once

#include <cstddef>
#include <string>

#include "Commands.h"
#include "exchangelog/ExchangeLog.h"
#include "station/Session.h"
#include "station/WindowOptions.h"

namespace zarvik::host {

struct Cli {
    SessionOptions session;
    CommandArgs args;
    std::string capture;
    bool overwrite = false;  // --capture may replace an existing file
    std::string log;
    std::size_t logMegabytes = ExchangeLog::kDefaultMaxBytes / (1024 * 1024);
    std::size_t logFiles = ExchangeLog::kDefaultFiles;
    std::string station;
    bool csv = false;
    int dispensers = 0;  // totals without a station file
    GuiOptions gui;
    bool simulate = false;
    std::string value;      // VALUE of a dose or price as typed
    std::string service;    // --service URL: read through the station service (Service.h)
    std::string tokenFile;  // --token-file FILE: its bearer token
    std::string caFile;     // --ca-file FILE: the CA to trust for an https:// service
};

}  // namespace zarvik::host
