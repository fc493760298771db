#include "Errors.h"

#include <algorithm>
#include <new>

#include "Station.h"
#include "port/PortErrors.h"
#include "protocol/HostText.h"
#include "station/StationFile.h"
#include "zarvik/exceptions.h"

namespace zarvik::capi {
namespace {

thread_local std::string t_error;

// A failed exchange: no reply, the device, or a reply that never answered.
std::int32_t ExchangeStatus(std::int32_t lineError) {
    if (lineError == port::kErrorTimeout) return ZARVIK_E_NO_REPLY;
    const bool device =
        lineError == port::kErrorDevice || lineError == port::kErrorNotOpen || lineError == port::kErrorNoDevicePath;
    return device ? ZARVIK_E_DEVICE : ZARVIK_E_BAD_REPLY;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::int32_t Fail(std::int32_t status, std::string text) {
    t_error = std::move(text);
    return status;
}

const std::string& LastError() { return t_error; }

void ClearError() { t_error.clear(); }

std::int32_t CopyText(std::string_view text, char* buffer, std::uint32_t size, std::uint32_t* needed) {
    const std::size_t whole = text.size() + 1;
    if (needed != nullptr) *needed = static_cast<std::uint32_t>(whole);
    if (size == 0) return whole == 1 ? ZARVIK_OK : ZARVIK_E_TRUNCATED;
    if (buffer == nullptr) return ZARVIK_E_ARGUMENT;
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    // Never cut a character in two.
    if (n < text.size())
        while (n > 0 && IsContinuationByte(text[n])) --n;
    std::copy_n(text.data(), n, buffer);
    buffer[n] = '\0';
    return n == text.size() ? ZARVIK_OK : ZARVIK_E_TRUNCATED;
}

namespace {

// Rethrows the exception in flight and names it.
std::int32_t Classify(zarvik_station* station, int line) {
    try {
        throw;
    } catch (const ESerialIO& e) {
        const std::int32_t error =
            station != nullptr && line > 0 ? station->port->GetLineError(static_cast<std::uint8_t>(line)) : 0;
        return Fail(ExchangeStatus(error), protocol::HostTextToUtf8(e.what()) + " (line error " +
                                               std::to_string(error) + ": " + port::DescribeLineError(error) + ")");
    } catch (const Exception& e) {
        // The driver refuses an argument before it sends anything.
        return Fail(ZARVIK_E_ARGUMENT, protocol::HostTextToUtf8(e.what()));
    } catch (const host::StationFileError& e) {
        return Fail(ZARVIK_E_ARGUMENT, e.what());
    } catch (const std::bad_alloc&) {
        t_error.clear();  // nothing more may be allocated
        return ZARVIK_E_INTERNAL;
    } catch (const std::exception& e) {
        return Fail(ZARVIK_E_INTERNAL, e.what());
    } catch (...) {
        return Fail(ZARVIK_E_INTERNAL, "unknown failure");
    }
}

}  // namespace

std::int32_t FromException(zarvik_station* station, int line) noexcept {
    try {
        return Classify(station, line);
    } catch (...) {
        // Describing it failed (out of memory): the status alone.
        t_error.clear();
        return ZARVIK_E_INTERNAL;
    }
}

}  // namespace zarvik::capi
