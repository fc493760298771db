// Serves a Station over a file descriptor on a thread of its own: a
// pseudo-terminal master it opens itself (the slave path goes to the host),
// or a serial device opened raw. Requests are framed with RequestFramer and
// answered through Station::Handle (or another request handler, such as the
// replay of a recorded line); replies go out paced at the baud rate
// (10 bits a byte) unless pacing is off. The thread waits in poll() and stops
// promptly on Stop() or destruction, also in the middle of a paced or delayed
// reply.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "sim/Station.h"

namespace zarvik::sim {

struct EndpointOptions {
    int baud = 9600;
    bool pacing = true;                       // off: whole replies written at once
    std::chrono::microseconds turnaround{0};  // pause between request and reply
    std::chrono::milliseconds frameGap{100};  // a partial request older than this is dropped
};

struct EndpointStats {
    std::uint64_t frames = 0;        // request frames received
    std::uint64_t replies = 0;       // replies written
    std::uint64_t skippedBytes = 0;  // garbage skipped while hunting for frames
};

// The reply to one request frame, or nothing; called on the endpoint thread only.
using RequestHandler =
    std::function<std::optional<Reply>(const std::uint8_t* frame, std::size_t length, TimePoint now)>;

class SerialEndpoint {
public:
    SerialEndpoint(Station& station, EndpointOptions options = {});
    SerialEndpoint(RequestHandler handler, EndpointOptions options = {});
    ~SerialEndpoint();
    SerialEndpoint(const SerialEndpoint&) = delete;
    SerialEndpoint& operator=(const SerialEndpoint&) = delete;

    // Opens a pseudo-terminal in raw mode and returns its slave path.
    // Throws std::system_error.
    std::string OpenPty();
    // Opens a serial device raw, 8N1 at the baud rate. Throws std::system_error.
    void OpenDevice(const std::string& path);
    const std::string& Path() const { return path_; }

    void Start();  // serves on a new thread; the line must be open
    void Stop();   // joins the thread and closes the descriptors

    EndpointStats Stats() const;

private:
    void Run();
    bool WaitWake(std::chrono::nanoseconds timeout);  // false when asked to stop
    bool Send(const Reply& reply);

    RequestHandler handler_;
    EndpointOptions options_;
    std::string path_;
    int fd_ = -1;
    int slaveFd_ = -1;  // kept open so the master never sees a hang-up between host sessions
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> replies_{0};
    std::atomic<std::uint64_t> skipped_{0};
};

}  // namespace zarvik::sim
