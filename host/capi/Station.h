// What a zarvik_station handle holds: the port service, one driver object
// on it, and per line the lock that serialises the line's calls and the
// sequence number of the description requests this library sends itself.
// Status replies are read off the wire so that a poll can hand out each
// nozzle's own litres and money.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "port/SerialPortManager.h"
#include "station/StatusReplies.h"
#include "zarvik/driver.h"

struct zarvik_station {
    static constexpr int kLines = zarvik::port::SerialPortManager::kLines;

    struct Line {
        std::mutex mutex;
        // Apart from the driver's own numbers (which start at 0).
        std::uint8_t sequence = 0x80;
        // What the host set for the line (a station file's, or timeouts).
        zarvik::port::LineSettings settings;
    };

    // The port service watches the wire for status replies; the driver
    // object is made on it (GetVM30). Throws when the driver gives none.
    explicit zarvik_station(std::int32_t options);
    // Lines closed first: the port service must not call into the driver
    // once it is gone; the driver goes before the port service it uses.
    ~zarvik_station();
    zarvik_station(const zarvik_station&) = delete;
    zarvik_station& operator=(const zarvik_station&) = delete;

    Line& At(int line) { return lines[static_cast<std::size_t>(line - 1)]; }

    std::unique_ptr<zarvik::port::SerialPortManager> port;
    zarvik::host::StatusReplies replies;
    zarvik::TDriver25* driver = nullptr;
    std::array<Line, kLines> lines;
};
