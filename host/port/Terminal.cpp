#include "Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "tty/RawTerminal.h"

namespace zarvik::port {
namespace {

int CloseWith(int fd, int error) {
    ::close(fd);
    return -error;
}

int PollMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

bool IsSupportedBaud(std::int32_t baud) { return tty::SpeedOf(baud).has_value(); }

int OpenRawTerminal(const std::string& path, std::int32_t baud) {
    const auto speed = tty::SpeedOf(baud);
    if (!speed) return -EINVAL;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -errno;

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return CloseWith(fd, errno);
    // Before touching the settings: another program that owns the line keeps
    // it, and nothing of ours goes on its wire. The lock goes with the
    // descriptor. (TIOCEXCL below also stops other opens, but not root's.)
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return CloseWith(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    // VMIN 1 with O_NONBLOCK: an empty queue reads as EAGAIN, so a read of 0
    // bytes can only mean the device hung up (with VMIN 0 it would be ambiguous).
    if (const int error = tty::MakeRaw(fd, *speed, 1); error != 0) return CloseWith(fd, error);
    // A second master on the same wire would garble both; refuse other opens
    // where the driver supports exclusive use (ignored where it does not).
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

void CloseTerminal(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

WaitResult WaitReadable(int fd, Clock::time_point until) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return WaitResult::Timeout;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::DeviceError;
        }
        if (r == 0) continue;  // re-check the clock: poll rounds to milliseconds
        if ((p.revents & POLLIN) != 0) return WaitResult::Readable;
        return WaitResult::DeviceError;  // POLLHUP, POLLERR or POLLNVAL without data
    }
}

IoStatus WriteAll(int fd, const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = ::write(fd, bytes + sent, length - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::DeviceError;
        // The output queue is full: wait for room, not longer than the deadline.
        pollfd p{fd, POLLOUT, 0};
        const int timeout = PollMilliseconds(deadline);
        if (timeout == 0) return IoStatus::Timeout;
        const int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) return IoStatus::DeviceError;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return IoStatus::DeviceError;
    }
    return IoStatus::Done;
}

long ReadAvailable(int fd, std::uint8_t* buffer, std::size_t capacity) {
    std::size_t got = 0;
    while (got < capacity) {
        const ssize_t n = ::read(fd, buffer + got, capacity - got);
        const bool nothingYet = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (nothingYet)
            break;
        else if (n == 0 || errno != EINTR)
            return -1;  // end of file (the other end is gone) or a device error
    }
    return static_cast<long>(got);
}

// Read first, then flush: the bytes thrown away are counted (a caller waits
// out the rest of a frame whose head it threw away).
long DiscardInput(int fd) {
    std::uint8_t sink[256];
    long total = 0;
    for (;;) {
        const long n = ReadAvailable(fd, sink, sizeof sink);
        if (n < 0) return -1;
        total += n;
        if (n < static_cast<long>(sizeof sink)) break;
    }
    ::tcflush(fd, TCIFLUSH);
    return total;
}

}  // namespace zarvik::port
