#include "Calls.h"

#include "port/PortErrors.h"
#include "zarvik/exceptions.h"

namespace zarvik::capi {

void RequireStation(const zarvik_station* station) {
    if (station == nullptr) throw Exception("no station (a null handle)");
}

void RequireRange(const char* what, std::int32_t value, std::int32_t low, std::int32_t high) {
    if (value < low || value > high)
        throw Exception(std::string(what) + " must be " + std::to_string(low) + ".." + std::to_string(high) + ", got " +
                        std::to_string(value));
}

void RequirePointer(const void* pointer, const char* what) {
    if (pointer == nullptr) throw Exception(std::string(what) + " is a null pointer");
}

std::int32_t LineOutcome(zarvik_station& station, int line, const char* what) {
    const std::uint8_t result = station.driver->GetLineResult(line);
    const std::string head = std::string(what) + ": ";
    const std::string code = " (line result " + std::to_string(result) + ")";
    switch (result) {
        case kLineStateGood:
            return ZARVIK_OK;
        case 10:
            return Fail(ZARVIK_E_REFUSED, head + "the dispenser refused the start" + code);
        case 14:
            return Fail(ZARVIK_E_REFUSED, head + "the dispenser refused the stop" + code);
        case kLineStateRefused:
            return Fail(ZARVIK_E_REFUSED, head + "the dispenser refused the command" + code);
        default: {
            if (station.port->GetLineState(static_cast<std::uint8_t>(line)) == kLineStateRefused)
                return Fail(ZARVIK_E_REFUSED, head + "the dispenser refused the command" + code);
            const std::int32_t error = station.port->GetLineError(static_cast<std::uint8_t>(line));
            return Fail(ZARVIK_E_BAD_REPLY, head + "bad reply" + code + ", line error " + std::to_string(error) + ": " +
                                                port::DescribeLineError(error));
        }
    }
}

}  // namespace zarvik::capi
