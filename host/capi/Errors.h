// How a C call ends: a status code and, for a failure, the calling thread's
// error text (UTF-8). Every exported function runs its body through Guard,
// which catches everything, so no exception crosses into a C caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zarvik/zarvik_c.h"

namespace zarvik::capi {

// Stores the text for this thread and returns status.
std::int32_t Fail(std::int32_t status, std::string text);
const std::string& LastError();
void ClearError();

// Copies text with its NUL into buffer (size bytes): the whole of it, or the
// longest prefix of whole UTF-8 characters that fits, with
// ZARVIK_E_TRUNCATED. needed (may be null) gets the whole size.
std::int32_t CopyText(std::string_view text, char* buffer, std::uint32_t size, std::uint32_t* needed);

// The status and text of the exception in flight; line (0: none) names the
// line whose port service explains a failed exchange.
std::int32_t FromException(zarvik_station* station, int line) noexcept;

// Runs body (which returns a status) with this thread's text cleared; any
// exception becomes its status and text.
template <typename Body>
std::int32_t Guard(zarvik_station* station, int line, Body&& body) noexcept {
    try {
        ClearError();
        return body();
    } catch (...) {
        return FromException(station, line);
    }
}

}  // namespace zarvik::capi
