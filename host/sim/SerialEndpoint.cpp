#include "sim/SerialEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "RequestFramer.h"
#include "tty/RawTerminal.h"

namespace zarvik::sim {

namespace {

constexpr int kBitsPerByte = 10;  // start, 8 data, stop
constexpr std::size_t kReadChunk = 256;
constexpr auto kHangUpBackoff = std::chrono::milliseconds(50);

[[noreturn]] void ThrowErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

speed_t SpeedOf(int baud) {
    const auto speed = tty::SpeedOf(baud);
    if (!speed) throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
    return *speed;
}

// Raw 8N1: no byte is translated, no echo, no signals, reads return what is there.
void MakeRaw(int fd, int baud, const std::string& what) {
    const char* step = "";
    if (const int error = tty::MakeRaw(fd, SpeedOf(baud), 0, &step); error != 0)
        throw std::system_error(error, std::generic_category(), what + ": " + step);
}

timespec ToTimespec(std::chrono::nanoseconds d) {
    if (d.count() < 0) d = std::chrono::nanoseconds(0);
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
    return timespec{static_cast<time_t>(s.count()), static_cast<long>((d - s).count())};
}

}  // namespace

SerialEndpoint::SerialEndpoint(Station& station, EndpointOptions options)
    : SerialEndpoint([&station](const std::uint8_t* frame, std::size_t length,
                                TimePoint now) { return station.Handle(frame, length, now); },
                     options) {}

SerialEndpoint::SerialEndpoint(RequestHandler handler, EndpointOptions options)
    : handler_(std::move(handler)), options_(options) {
    SpeedOf(options_.baud);  // refuse an unknown rate up front
}

SerialEndpoint::~SerialEndpoint() { Stop(); }

std::string SerialEndpoint::OpenPty() {
    if (fd_ >= 0) throw std::logic_error("endpoint already open");
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) ThrowErrno("posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        const int e = errno;
        close(master);
        throw std::system_error(e, std::generic_category(), "pseudo-terminal");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int e = errno;
        close(master);
        throw std::system_error(e, std::generic_category(), name);
    }
    try {
        MakeRaw(slave, options_.baud, name);
        if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) ThrowErrno("fcntl");
    } catch (...) {
        close(slave);
        close(master);
        throw;
    }
    fd_ = master;
    slaveFd_ = slave;
    path_ = name;
    return path_;
}

void SerialEndpoint::OpenDevice(const std::string& path) {
    if (fd_ >= 0) throw std::logic_error("endpoint already open");
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) ThrowErrno(path);
    try {
        MakeRaw(fd, options_.baud, path);
    } catch (...) {
        close(fd);
        throw;
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    path_ = path;
}

void SerialEndpoint::Start() {
    if (fd_ < 0) throw std::logic_error("endpoint not open");
    if (thread_.joinable()) return;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) ThrowErrno("eventfd");
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void SerialEndpoint::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    for (int* fd : {&wakeFd_, &slaveFd_, &fd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

EndpointStats SerialEndpoint::Stats() const { return {frames_.load(), replies_.load(), skipped_.load()}; }

bool SerialEndpoint::WaitWake(std::chrono::nanoseconds timeout) {
    if (stop_) return false;
    if (timeout.count() <= 0) return true;
    pollfd wake{wakeFd_, POLLIN, 0};
    const timespec ts = ToTimespec(timeout);
    for (;;) {
        const int r = ppoll(&wake, 1, &ts, nullptr);
        if (r < 0 && errno == EINTR) continue;  // a shortened wait only costs pacing accuracy
        return r <= 0 && !stop_;
    }
}

bool SerialEndpoint::Send(const Reply& reply) {
    if (!WaitWake(options_.turnaround + reply.delay)) return false;
    const auto& bytes = reply.bytes;
    const auto byteTime = std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte / options_.baud);
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t due = bytes.size();
        if (options_.pacing) {
            // A byte leaves the wire one byte time after the previous one; write what is due by now.
            const auto elapsed = std::chrono::steady_clock::now() - start;
            due = std::min(bytes.size(), static_cast<std::size_t>(elapsed / byteTime));
            if (due <= sent) {
                if (!WaitWake(start + byteTime * static_cast<long>(sent + 1) - std::chrono::steady_clock::now()))
                    return false;
                continue;
            }
        }
        const ssize_t n = write(fd_, bytes.data() + sent, due - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return !stop_;
            if (stop_) return false;
        } else {
            return !stop_;  // the device is gone: the rest of this reply is lost
        }
    }
    ++replies_;
    return true;
}

void SerialEndpoint::Run() {
    RequestFramer framer;
    auto lastByte = std::chrono::steady_clock::now();
    std::uint8_t chunk[kReadChunk];
    while (!stop_) {
        int timeout = -1;
        if (framer.Pending()) {
            const auto left = options_.frameGap - (std::chrono::steady_clock::now() - lastByte);
            timeout = static_cast<int>(std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (stop_ || (fds[1].revents & POLLIN) != 0) break;
        if (r == 0) {
            if (framer.Pending() && std::chrono::steady_clock::now() - lastByte >= options_.frameGap) {
                for (const auto& frame : framer.Flush()) {
                    ++frames_;
                    const auto reply = handler_(frame.data(), frame.size(), SimClock::now());
                    if (reply && !Send(*reply)) break;
                }
            }
            skipped_ = framer.SkippedBytes();
            continue;
        }
        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0;
        for (;;) {
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0) {
                framer.Push(chunk, static_cast<std::size_t>(n));
                lastByte = std::chrono::steady_clock::now();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (n < 0 && errno != EAGAIN)) hungUp = true;
            break;
        }
        while (auto frame = framer.Next()) {
            ++frames_;
            const auto reply = handler_(frame->data(), frame->size(), SimClock::now());
            if (reply && !Send(*reply)) break;
        }
        skipped_ = framer.SkippedBytes();
        // Nobody on the other end: wait a little instead of spinning on the hang-up.
        if (hungUp && !WaitWake(kHangUpBackoff)) break;
    }
}

}  // namespace zarvik::sim
