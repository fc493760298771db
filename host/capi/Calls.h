// The frame of every exported function: arguments checked, the line's lock
// held, exceptions turned into status and text (Errors.h), and the driver's
// line result after an operation read as a status.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "Errors.h"
#include "Station.h"

namespace zarvik::capi {

// Throw zarvik::Exception (ZARVIK_E_ARGUMENT) naming what is wrong.
void RequireStation(const zarvik_station* station);
void RequireRange(const char* what, std::int32_t value, std::int32_t low, std::int32_t high);
void RequirePointer(const void* pointer, const char* what);

// The line result the driver left after `what`: ZARVIK_OK for 1, else the
// refusal or bad reply with its text.
std::int32_t LineOutcome(zarvik_station& station, int line, const char* what);

// Runs body on a line of a station, with the line locked.
template <typename Body>
std::int32_t OnLine(zarvik_station* station, std::int32_t line, Body&& body) noexcept {
    return Guard(station, 0, [&]() -> std::int32_t {
        RequireStation(station);
        RequireRange("line", line, 1, zarvik_station::kLines);
        std::lock_guard lock(station->At(line).mutex);
        return Guard(station, line, body);
    });
}

// The same for a dispenser's nozzle.
template <typename Body>
std::int32_t OnNozzle(zarvik_station* station, std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                      Body&& body) noexcept {
    return OnLine(station, line, [&]() -> std::int32_t {
        RequireRange("dispenser", dispenser, 1, 32);
        RequireRange("nozzle", nozzle, 1, 6);
        return body();
    });
}

}  // namespace zarvik::capi
