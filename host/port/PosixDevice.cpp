#include "PosixDevice.h"

#include <unistd.h>

#include <cerrno>

#include "FaultCause.h"
#include "Terminal.h"

namespace zarvik::port {

std::unique_ptr<SerialDevice> MakeSystemDevice() { return std::make_unique<PosixDevice>(); }

bool PosixDevice::Open(const std::string& path, std::int32_t baud) {
    Close();
    const int fd = OpenRawTerminal(path, baud);
    if (fd < 0) return Fault(-fd, DescribeOpenFault(path, -fd, baud));
    fd_ = fd;
    owned_ = true;
    fault_ = {};
    return true;
}

void PosixDevice::Close() {
    if (fd_ >= 0 && owned_) CloseTerminal(fd_);
    fd_ = -1;
}

void PosixDevice::IoFailed() {
    // A read of 0 bytes (end of file) and a hang-up leave errno alone: both
    // mean the device went away.
    const int error = errno == EAGAIN || errno == EINTR ? 0 : errno;
    fault_ = {error == 0 ? EIO : error, DescribeIoFault(error)};
}

long PosixDevice::DiscardInput() {
    errno = 0;
    const long n = port::DiscardInput(fd_);
    if (n < 0) IoFailed();
    return n;
}

IoStatus PosixDevice::Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) {
    errno = 0;
    const IoStatus s = WriteAll(fd_, bytes, length, deadline);
    if (s == IoStatus::DeviceError) IoFailed();
    if (s == IoStatus::Timeout) fault_ = {ETIMEDOUT, "write timed out: the device takes no output"};
    return s;
}

WaitResult PosixDevice::WaitReadable(Clock::time_point until) {
    errno = 0;
    const WaitResult w = port::WaitReadable(fd_, until);
    if (w == WaitResult::DeviceError) IoFailed();
    return w;
}

long PosixDevice::ReadAvailable(std::uint8_t* buffer, std::size_t capacity) {
    errno = 0;
    const long n = port::ReadAvailable(fd_, buffer, capacity);
    if (n < 0) IoFailed();
    return n;
}

}  // namespace zarvik::port
