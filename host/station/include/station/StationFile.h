// The station file: the lines of a filling station, the device and settings
// of each, and the dispensers each line serves. Read by `zarvik-host
// --station FILE` and by the station window. Format (docs/station-file.md):
//
//   {"name": "АЗС 7",                                       optional
//    "lines": [{"line": 1, "device": "/dev/ttyUSB0",
//               "name": "Остров 1",                          optional
//               "baud": 9600,                                optional (default: the driver's 9600)
//               "timeouts": {"responseMs": 300, "interByteMs": 50, "drainQuietMs": 60},  optional, each key too
//               "dispensers": [{"number": 1, "nozzles": 3,
//                               "name": "ТРК 1",             optional
//                               "nozzleNames": ["АИ-92", "АИ-95", "ДТ"]}]}],
//    "service": {...}}                                       optional, the station service's (zarvikd) own
//
// A file is taken whole or not at all: the first problem throws
// StationFileError naming the key by its path ("$.lines[0].baud") and the
// problem, before anything is opened. Unknown keys are problems too, so a
// misspelt "baud" never leaves a line at 9600 silently.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/ExitCodes.h"
#include "port/SerialPortManager.h"

namespace zarvik::host {

struct StationDispenser {
    int number = 0;                        // 1..32 on its line
    int nozzles = 0;                       // 1..6
    std::string name;                      // UTF-8; empty: none given
    std::vector<std::string> nozzleNames;  // empty, or one per nozzle
};

struct StationLine {
    int line = 0;  // 1..32
    std::string device;
    std::string name;
    port::LineSettings settings;  // baud 0: the rate the driver asks for
    std::vector<StationDispenser> dispensers;

    const StationDispenser* Find(int dispenser) const;
};

struct StationFile {
    std::string source;  // the file's path, for messages
    std::string name;
    std::vector<StationLine> lines;
    std::string service;  // the "service" object's JSON text, checked by zarvikd; empty when absent

    const StationLine* Find(int line) const;
};

// A configuration error (exit code 4): "FILE: KEY: PROBLEM".
class StationFileError : public HostError {
public:
    StationFileError(const std::string& source, const std::string& key, const std::string& problem);
    const std::string& Key() const { return key_; }
    const std::string& Problem() const { return problem_; }

private:
    std::string key_;
    std::string problem_;
};

// Files larger than this are refused unread.
inline constexpr std::size_t kStationFileLimit = 1 << 20;

// Reads and checks a station file. Throws StationFileError (a file that
// cannot be read has the key "$").
StationFile ReadStationFile(const std::string& path);
// The same for text already read; `source` names it in messages.
StationFile ParseStationFile(std::string_view text, const std::string& source);

// Maps the line to its device with its settings on a port service (nothing
// is opened until the driver opens the line).
void ConfigureLine(port::SerialPortManager& port, const StationLine& line);

}  // namespace zarvik::host
