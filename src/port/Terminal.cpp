#include "Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "tty/RawTerminal.h"

namespace zarvik::port {
namespace {

int PollMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

int OpenRawTerminal(const std::string& path, std::int32_t baud) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -errno;

    // VMIN 1 with O_NONBLOCK: an empty queue reads as EAGAIN, so a read of 0
    // bytes can only mean the device hung up (with VMIN 0 it would be ambiguous).
    if (const int error = tty::MakeRaw(fd, tty::SpeedOf(baud).value_or(B9600), 1); error != 0) {
        ::close(fd);
        return -error;
    }
    // A second master on the same wire would garble both; refuse it where the
    // driver supports exclusive use (ignored where it does not).
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

void CloseTerminal(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

double ByteSeconds(std::int32_t baud) { return 10.0 / static_cast<double>(baud > 0 ? baud : 9600); }

Clock::duration WireTime(std::size_t bytes, std::int32_t baud) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) * ByteSeconds(baud)));
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
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return -1;  // end of file: the other end is gone
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        return -1;
    }
    return static_cast<long>(got);
}

long DiscardInput(int fd) {
    ::tcflush(fd, TCIFLUSH);
    std::uint8_t sink[256];
    long total = 0;
    for (;;) {
        const long n = ReadAvailable(fd, sink, sizeof sink);
        if (n < 0) return -1;
        total += n;
        if (n < static_cast<long>(sizeof sink)) return total;
    }
}

}  // namespace zarvik::port
