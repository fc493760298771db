// The POSIX back end of SerialDevice: a terminal through termios
// (Terminal.h), any tty path, pseudo-terminals included.
#pragma once

#include "port/SerialDevice.h"

namespace zarvik::port {

class PosixDevice final : public SerialDevice {
public:
    PosixDevice() = default;
    // Works on a descriptor opened elsewhere (a pipe in tests); closes it on
    // Close only when owned.
    PosixDevice(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~PosixDevice() override { Close(); }
    PosixDevice(const PosixDevice&) = delete;
    PosixDevice& operator=(const PosixDevice&) = delete;

    bool Open(const std::string& path, std::int32_t baud) override;
    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    long DiscardInput() override;
    IoStatus Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) override;
    WaitResult WaitReadable(Clock::time_point until) override;
    long ReadAvailable(std::uint8_t* buffer, std::size_t capacity) override;

private:
    void IoFailed();  // keeps errno's cause

    int fd_ = -1;
    bool owned_ = true;
};

}  // namespace zarvik::port
