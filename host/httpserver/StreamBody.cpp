// A stream response's body: the connection's thread asks the stream for
// more in short waits (so Stop and a client that went are noticed soon),
// and sends a keep-alive comment when nothing was sent for a while.
#include <poll.h>
#include <syslog.h>

#include <algorithm>
#include <exception>

#include "ServerState.h"
#include "hostkit/VisibleText.h"

namespace zarvik::http {
namespace {

using StreamClock = std::chrono::steady_clock;

// How long one call of the stream may wait for something to send.
constexpr std::chrono::milliseconds kStreamWait{250};
constexpr std::string_view kKeepAlive = ": keep-alive\n\n";

struct StreamBody {
    const HttpServer::State* state = nullptr;
    std::shared_ptr<Stream> stream;
    int socket = -1;
    std::chrono::milliseconds keepAlive{};
    StreamClock::time_point lastSent = StreamClock::now();
    std::string pending;  // produced, not yet handed to the library
    bool ended = false;   // the stream said it has no more
};

// The client closed its end (or the socket failed).
bool PeerGone(int socket) {
    if (socket < 0) return false;
    pollfd entry{socket, POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

ssize_t ReadStream(void* cls, std::uint64_t, char* buffer, std::size_t max) {
    auto& body = *static_cast<StreamBody*>(cls);
    while (body.pending.empty()) {
        if (body.ended || body.state->stopping.load()) return MHD_CONTENT_READER_END_OF_STREAM;
        if (PeerGone(body.socket)) return MHD_CONTENT_READER_END_WITH_ERROR;
        try {
            body.ended = !body.stream->Next(body.pending, kStreamWait);
        } catch (const std::exception& e) {
            body.state->Log(LOG_ERR, "an event stream failed: " + host::VisibleText(e.what()));
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        if (body.pending.empty() && !body.ended && StreamClock::now() - body.lastSent >= body.keepAlive)
            body.pending = kKeepAlive;
    }
    const std::size_t size = std::min(max, body.pending.size());
    body.pending.copy(buffer, size);
    body.pending.erase(0, size);
    body.lastSent = StreamClock::now();
    return static_cast<ssize_t>(size);
}

void FreeStream(void* cls) { delete static_cast<StreamBody*>(cls); }

}  // namespace

MHD_Response* CreateStreamResponse(const HttpServer::State& state, MHD_Connection* connection,
                                   std::shared_ptr<Stream> stream) {
    auto body = std::make_unique<StreamBody>();
    body->state = &state;
    body->stream = std::move(stream);
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    body->socket = info != nullptr ? info->connect_fd : -1;
    // Half the idle timeout, so the library never finds a live stream idle.
    const int timeout = state.settings.limits.clientTimeoutSeconds;
    body->keepAlive = std::chrono::milliseconds(std::max(500, timeout * 500));
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &ReadStream, body.get(), &FreeStream);
    if (response != nullptr) body.release();
    return response;
}

}  // namespace zarvik::http
