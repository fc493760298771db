// Stations, lines, statistics, the error text and the driver's own answers.
#include <memory>
#include <optional>

#include "Calls.h"
#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "station/StationFile.h"

using namespace zarvik::capi;

namespace {

std::int32_t Make(std::int32_t options, zarvik_station** out, const char* path) {
    RequirePointer(out, "station");
    *out = nullptr;
    // A wrong file is refused before anything is made.
    std::optional<zarvik::host::StationFile> file;
    if (path != nullptr) file = zarvik::host::ReadStationFile(path);
    auto station = std::make_unique<zarvik_station>(options);
    if (file)
        for (const auto& line : file->lines) {
            zarvik::host::ConfigureLine(*station->port, line);
            station->At(line.line).settings = line.settings;
        }
    *out = station.release();
    return ZARVIK_OK;
}

}  // namespace

extern "C" {

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_last_error(char* buffer, uint32_t size, uint32_t* needed) {
    // Never through Guard: reading the text must not clear it.
    try {
        return CopyText(LastError(), buffer, size, needed);
    } catch (...) {
        return ZARVIK_E_INTERNAL;
    }
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_new(int32_t options, zarvik_station** station) {
    return Guard(nullptr, 0, [&] { return Make(options, station, nullptr); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_open_file(const char* path, int32_t options, zarvik_station** station) {
    return Guard(nullptr, 0, [&] {
        RequirePointer(path, "path");
        return Make(options, station, path);
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_free(zarvik_station* station) {
    return Guard(nullptr, 0, [&] {
        delete station;
        return ZARVIK_OK;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_device(zarvik_station* station, int32_t line, const char* path) {
    return OnLine(station, line, [&] {
        RequirePointer(path, "path");
        station->port->SetDevice(line, path);
        return ZARVIK_OK;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_timeouts(zarvik_station* station, int32_t line, int32_t response_ms,
                                                     int32_t inter_byte_ms) {
    return OnLine(station, line, [&] {
        RequireRange("response_ms", response_ms, 1, 60000);
        RequireRange("inter_byte_ms", inter_byte_ms, 1, 60000);
        auto& settings = station->At(line).settings;
        settings.response = std::chrono::milliseconds(response_ms);
        settings.interByte = std::chrono::milliseconds(inter_byte_ms);
        station->port->SetSettings(line, settings);
        return ZARVIK_OK;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_open(zarvik_station* station, int32_t line) {
    return OnLine(station, line, [&] {
        const std::int32_t result = station->driver->OpenPort(line);
        if (result == 0) return ZARVIK_OK;
        const std::string cause = station->port->LineFault(line).text;
        return Fail(ZARVIK_E_DEVICE, "line " + std::to_string(line) + " does not open (error " +
                                         std::to_string(result) + ": " + zarvik::port::DescribeLineError(result) +
                                         (cause.empty() ? "" : "; " + cause) + ")");
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_close(zarvik_station* station, int32_t line) {
    return OnLine(station, line, [&] {
        station->port->CloseLine(line);
        return ZARVIK_OK;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_statistics_get(zarvik_station* station, int32_t line,
                                                            zarvik_line_statistics* out) {
    return OnLine(station, line, [&] {
        RequirePointer(out, "statistics");
        const auto s = station->port->Statistics(line);
        const auto us = [](std::chrono::microseconds t) { return static_cast<uint64_t>(t.count()); };
        *out = zarvik_line_statistics{s.exchanges,      s.good,          s.bad,       s.timeouts,      s.deviceErrors,
                                      s.refusals,       s.reopens,       s.bytesSent, s.bytesReceived, us(s.latencyP50),
                                      us(s.latencyP95), us(s.latencyMax)};
        return ZARVIK_OK;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_driver_info(zarvik_station* station, char* buffer, uint32_t size,
                                                    uint32_t* needed) {
    return Guard(station, 0, [&] {
        RequireStation(station);
        if (size > 0) RequirePointer(buffer, "buffer");
        zarvik::TShortString info{};
        station->driver->DriverInfo(info);
        const std::string text = zarvik::cp1251::ToUtf8(info.view());
        const std::int32_t status = CopyText(text, buffer, size, needed);
        if (status == ZARVIK_OK) return status;
        return Fail(status, "the driver information needs " + std::to_string(text.size() + 1) +
                                " bytes, the buffer has " + std::to_string(size));
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_query_capability(zarvik_station* station, uint32_t kind, int32_t* known,
                                                         int32_t* value) {
    return Guard(station, 0, [&] {
        RequireStation(station);
        RequirePointer(known, "known");
        RequirePointer(value, "value");
        std::int32_t answer = *value;
        *known = station->driver->QueryCapability(kind, answer) ? 1 : 0;
        *value = answer;
        return ZARVIK_OK;
    });
}

}  // extern "C"
