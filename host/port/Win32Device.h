// The Win32 back end of SerialDevice: a COM port through CreateFile,
// SetCommState (raw 8N1, no flow control) and SetCommTimeouts, with plain
// (non-overlapped) ReadFile and WriteFile whose timeouts bound every call.
// "COM1", "com12" and "\\.\COM12" name the same kind of device.
//
// Waiting for input reads one byte with a total timeout (the MAXDWORD,
// MAXDWORD, T read mode returns as soon as a byte is there); the byte is
// kept and handed out first by the next read. Faults keep GetLastError's
// code with the system's own text beside our words for it.
#pragma once

#include <cstdint>
#include <string>

#include "port/SerialDevice.h"

namespace zarvik::port {

// True for the rates a line can be opened at (1200 .. 230400), as on POSIX.
bool IsSupportedBaud(std::int32_t baud);

// "\\.\COM12" for "COM12"; a name that already starts with "\\" as it is.
std::string Win32DeviceName(const std::string& path);

// Our words for a Windows error code with the system's text beside them:
// "no such device (Windows error 2: The system cannot find the file specified)".
std::string DescribeWin32Fault(std::uint32_t error);

class Win32Device final : public SerialDevice {
public:
    Win32Device() = default;
    ~Win32Device() override { Close(); }
    Win32Device(const Win32Device&) = delete;
    Win32Device& operator=(const Win32Device&) = delete;

    bool Open(const std::string& path, std::int32_t baud) override;
    bool IsOpen() const override { return handle_ != nullptr; }
    void Close() override;
    long DiscardInput() override;
    IoStatus Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) override;
    WaitResult WaitReadable(Clock::time_point until) override;
    long ReadAvailable(std::uint8_t* buffer, std::size_t capacity) override;

private:
    // COMMTIMEOUTS, in its order; set only when they change.
    struct Timeouts {
        std::uint32_t readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant;
        bool operator==(const Timeouts&) const = default;
    };
    bool Apply(const Timeouts& timeouts);
    bool Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got);
    void Failed(std::uint32_t error);

    void* handle_ = nullptr;  // HANDLE; null when closed
    Timeouts timeouts_{};
    bool timeoutsSet_ = false;
    std::uint8_t early_ = 0;  // the byte a wait read
    bool hasEarly_ = false;
};

}  // namespace zarvik::port
