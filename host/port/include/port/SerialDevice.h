// The device I/O the serial port service needs, behind one small contract so
// that another back end (Win32: CreateFile, SetCommState, SetCommTimeouts,
// PurgeComm(PURGE_RXCLEAR), ReadFile, WriteFile) can stand beside the POSIX
// one without touching the service's logic.
//
// A device is opened raw 8N1 at one rate, owned exclusively by this process
// while open, and never blocks past the deadline a call is given. Every
// failure keeps its cause (LastFault): the system's error number and a short
// English text a service engineer can act on.
//
// Time comes from the device too (Now, SleepUntil), so a scripted fake can run
// a whole exchange on a virtual clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "PortExport.h"

namespace zarvik::port {

using Clock = std::chrono::steady_clock;

enum class IoStatus { Done, Timeout, DeviceError };
enum class WaitResult { Readable, Timeout, DeviceError };

struct DeviceFault {
    int error = 0;     // errno (or the back end's own code); 0: none
    std::string text;  // "no such device", "busy: held by process 812 (zarvik-host)", ...
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens path raw 8N1 at baud, no flow control, pending input discarded,
    // held exclusively. False on failure (the cause in LastFault); an
    // unsupported rate is a failure, never replaced by another.
    virtual bool Open(const std::string& path, std::int32_t baud) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    // Throws away what has come in and not been read. Returns the number of
    // bytes read and thrown away (the kernel's own flush is not counted), or
    // -1 when the device failed.
    virtual long DiscardInput() = 0;
    // Writes all bytes, waiting for room until the deadline.
    virtual IoStatus Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) = 0;
    // Waits until input is there, the time has come, or the device failed.
    virtual WaitResult WaitReadable(Clock::time_point until) = 0;
    // Reads what is there without waiting, at most capacity bytes: the count
    // (0 when nothing), or -1 on failure (a hung-up device included).
    virtual long ReadAvailable(std::uint8_t* buffer, std::size_t capacity) = 0;

    // The cause of the latest failure; none after a successful open.
    virtual DeviceFault LastFault() const { return fault_; }

    virtual Clock::time_point Now() const { return Clock::now(); }
    virtual void SleepUntil(Clock::time_point t) { std::this_thread::sleep_until(t); }

protected:
    // Keeps a failure's cause; false, so that Open can `return Fault(...)`.
    bool Fault(int error, std::string text) {
        fault_ = {error, std::move(text)};
        return false;
    }

    DeviceFault fault_;
};

// Seconds one byte takes on the wire at baud: 10 bits (start, 8 data, stop).
inline double ByteSeconds(std::int32_t baud) { return 10.0 / static_cast<double>(baud > 0 ? baud : 9600); }
inline Clock::duration WireTime(std::size_t bytes, std::int32_t baud) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) * ByteSeconds(baud)));
}

// The back end of this platform.
ZARVIK_PORT_API std::unique_ptr<SerialDevice> MakeSystemDevice();

}  // namespace zarvik::port
