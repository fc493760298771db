// One host session on one line: the serial port service, the dlopen'ed
// driver library and the driver object created on that service. Commands
// call the driver by slot (loader/DriverLibrary.h) and read the line result after
// every operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureWriter.h"
#include "loader/DriverLibrary.h"
#include "port/SerialPortManager.h"

namespace zarvik::host {
class ExchangeLog;
}

namespace zarvik::host {

struct SessionOptions {
    std::string device;           // serial device or pseudo-terminal
    int line = 1;                 // 1..32
    port::LineSettings settings;  // the line's rate and timeouts (a station file's)
    bool trace = false;           // every frame on stderr: "10:41:07.123456 > " sent, "... < " received
    std::string library;          // empty: DefaultLibraryPath()
    std::int32_t options = 0;
    capture::CaptureWriter* capture = nullptr;  // every frame also goes here (--capture); not owned
    ExchangeLog* log = nullptr;                 // every exchange also goes here (--log); not owned
    port::DeviceFactory devices;                // the port service's devices; empty: the system's
};

class Session {
public:
    // Loads the library, creates the driver, maps the line to the device
    // with its settings. Throws HostError (configuration) when the library
    // does not load.
    explicit Session(const SessionOptions& options);
    ~Session();

    // Opens the line through the driver (operation 16). Throws HostError:
    // usage when no device was given, configuration (with the cause) when
    // the port service cannot open it.
    void Open();

    TDriver25* Driver() const { return driver_; }
    port::SerialPortManager& Port() { return *port_; }
    int Line() const { return line_; }
    const std::string& Device() const { return device_; }
    const DriverLibrary& Library() const { return library_; }
    const port::LineSettings& Settings() const { return settings_; }

    std::uint8_t LineResult();  // operation 3
    // ": no such device" and the like when the line's device failed to open
    // or failed in an exchange; empty otherwise.
    std::string FaultCause() const;
    // Why the last exchange failed, in the host's words first and the
    // driver's text after them verbatim: "no reply from address 4 on
    // /dev/ttyUSB0 within 300 ms (error 300; driver: "...")".
    std::string ExchangeFailure(const std::string& driverText);

    // Sees every frame on the wire after the trace printer (one at a time;
    // empty to remove).
    void SetObserver(port::FrameTraceHook observer) { observer_ = std::move(observer); }

    // The next sequence number for requests the host sends itself.
    std::uint8_t NextSequence() { return sequence_++; }

private:
    std::unique_ptr<port::SerialPortManager> port_;
    DriverLibrary library_;
    TDriver25* driver_ = nullptr;
    int line_;
    std::string device_;
    port::LineSettings settings_;
    ExchangeLog* log_;
    std::uint8_t sequence_ = 0x80;
    int lastAddress_ = -1;  // the bus address of the last frame sent
    port::FrameTraceHook observer_;
};

// Meaning of a line result code.
const char* LineResultMeaning(std::uint8_t result);

}  // namespace zarvik::host
