#include "Win32Device.h"

#include <windows.h>

#include <algorithm>
#include <array>

namespace zarvik::port {
namespace {

constexpr std::array<std::int32_t, 9> kRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr std::uint32_t kLongest = MAXDWORD - 1;  // the largest total timeout that is not "forever"

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

// Milliseconds left until t, rounded up; at most kLongest.
std::uint32_t MillisecondsUntil(Clock::time_point t) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<std::uint32_t>(std::min<long long>(left, kLongest));
}

std::string SystemText(std::uint32_t error) {
    wchar_t text[512];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                   static_cast<DWORD>(std::size(text)), nullptr);
    if (n == 0) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), bytes, nullptr, nullptr);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
        utf8.pop_back();
    return utf8;
}

const char* OurWords(std::uint32_t error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return "no such device";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // A COM port is never shared: one that refuses is open elsewhere.
            return "busy: held by another program";
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_HANDLE:
            return "not a serial port";
        case ERROR_GEN_FAILURE:
        case ERROR_BAD_COMMAND:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return "hang-up: the device went away";
        case ERROR_TIMEOUT:
        case ERROR_SEM_TIMEOUT:
            return "write timed out: the device takes no output";
        default:
            return nullptr;
    }
}

}  // namespace

bool IsSupportedBaud(std::int32_t baud) { return std::find(kRates.begin(), kRates.end(), baud) != kRates.end(); }

std::string Win32DeviceName(const std::string& path) {
    if (path.rfind("\\\\", 0) == 0) return path;
    return "\\\\.\\" + path;
}

std::string DescribeWin32Fault(std::uint32_t error) {
    const std::string system = "Windows error " + std::to_string(error) + ": " + SystemText(error);
    const char* words = OurWords(error);
    return words != nullptr ? std::string(words) + " (" + system + ")" : system;
}

std::unique_ptr<SerialDevice> MakeSystemDevice() { return std::make_unique<Win32Device>(); }

void Win32Device::Failed(std::uint32_t error) {
    if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
    fault_ = {static_cast<int>(error), DescribeWin32Fault(error)};
}

bool Win32Device::Open(const std::string& path, std::int32_t baud) {
    Close();
    if (!IsSupportedBaud(baud)) return Fault(ERROR_INVALID_PARAMETER, "unsupported baud rate " + std::to_string(baud));
    // No sharing: the line is ours alone while it is open.
    const HANDLE h = CreateFileA(Win32DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Failed(GetLastError());
        return false;
    }
    handle_ = h;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        const DWORD error = GetLastError();
        Close();
        // Whatever the code, a handle without a line state is no serial port.
        return Fault(static_cast<int>(error), "not a serial port (" + DescribeWin32Fault(error) + ")");
    }
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(h, &dcb)) {
        const DWORD error = GetLastError();
        Close();
        Failed(error);
        return false;
    }
    timeoutsSet_ = false;
    if (!Apply({MAXDWORD, 0, 0, 0, 0}) || !PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        const DWORD error = GetLastError();
        Close();
        Failed(error);
        return false;
    }
    fault_ = {};
    return true;
}

void Win32Device::Close() {
    if (handle_ != nullptr) CloseHandle(AsHandle(handle_));
    handle_ = nullptr;
    hasEarly_ = false;
}

bool Win32Device::Apply(const Timeouts& timeouts) {
    if (timeoutsSet_ && timeouts == timeouts_) return true;
    COMMTIMEOUTS t{timeouts.readInterval, timeouts.readMultiplier, timeouts.readConstant, timeouts.writeMultiplier,
                   timeouts.writeConstant};
    if (!SetCommTimeouts(AsHandle(handle_), &t)) return false;
    timeouts_ = timeouts;
    timeoutsSet_ = true;
    return true;
}

bool Win32Device::Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
    DWORD n = 0;
    if (!ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(capacity), &n, nullptr)) return false;
    got = n;
    return true;
}

long Win32Device::DiscardInput() {
    if (!PurgeComm(AsHandle(handle_), PURGE_RXCLEAR)) {
        Failed(GetLastError());
        return -1;
    }
    long total = hasEarly_ ? 1 : 0;
    hasEarly_ = false;
    std::uint8_t sink[256];
    for (;;) {
        const long n = ReadAvailable(sink, sizeof sink);
        if (n < 0) return -1;
        total += n;
        if (n < static_cast<long>(sizeof sink)) return total;
    }
}

IoStatus Win32Device::Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) {
    // The whole frame or nothing more after the deadline: a total timeout.
    Timeouts t = timeouts_;
    t.writeMultiplier = 0;
    t.writeConstant = std::max<std::uint32_t>(1, MillisecondsUntil(deadline));
    if (!Apply(t)) {
        Failed(GetLastError());
        return IoStatus::DeviceError;
    }
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, static_cast<DWORD>(length), &written, nullptr)) {
        Failed(GetLastError());
        return IoStatus::DeviceError;
    }
    if (written < length) {
        fault_ = {ERROR_TIMEOUT, "write timed out: the device takes no output"};
        return IoStatus::Timeout;
    }
    return IoStatus::Done;
}

WaitResult Win32Device::WaitReadable(Clock::time_point until) {
    if (hasEarly_) return WaitResult::Readable;
    for (;;) {
        const std::uint32_t left = MillisecondsUntil(until);
        if (left == 0) return WaitResult::Timeout;
        // Returns at once with a byte that is there, else with the first one
        // to come, or with none after `left` milliseconds.
        Timeouts t = timeouts_;
        t.readInterval = MAXDWORD;
        t.readMultiplier = MAXDWORD;
        t.readConstant = left;
        std::size_t got = 0;
        if (!Apply(t) || !Read(&early_, 1, got)) {
            Failed(GetLastError());
            return WaitResult::DeviceError;
        }
        if (got == 1) {
            hasEarly_ = true;
            return WaitResult::Readable;
        }
        // Nothing yet: look at the clock again (the system's timer is coarse).
    }
}

long Win32Device::ReadAvailable(std::uint8_t* buffer, std::size_t capacity) {
    std::size_t got = 0;
    if (hasEarly_ && capacity > 0) {
        buffer[got++] = early_;
        hasEarly_ = false;
    }
    if (got == capacity) return static_cast<long>(got);
    // What is there, without waiting.
    Timeouts t = timeouts_;
    t.readInterval = MAXDWORD;
    t.readMultiplier = 0;
    t.readConstant = 0;
    std::size_t more = 0;
    if (!Apply(t) || !Read(buffer + got, capacity - got, more)) {
        Failed(GetLastError());
        return -1;
    }
    return static_cast<long>(got + more);
}

}  // namespace zarvik::port
