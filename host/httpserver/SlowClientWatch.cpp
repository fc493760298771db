#include <sys/socket.h>
#include <syslog.h>

#include "ServerState.h"

namespace zarvik::http {

using WatchClock = std::chrono::steady_clock;

void SlowClientWatch::Start() {
    thread_ = std::thread([this] { Run(); });
}

void SlowClientWatch::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SlowClientWatch::Opened(ConnectionContext* connection) {
    const std::lock_guard lock(mutex_);
    connection->deadline = WatchClock::now() + limit_;
    open_.insert(connection);
}

void SlowClientWatch::Closed(ConnectionContext* connection) {
    const std::lock_guard lock(mutex_);
    open_.erase(connection);
}

void SlowClientWatch::RequestIn(ConnectionContext* connection) {
    const std::lock_guard lock(mutex_);
    connection->reading = false;
}

void SlowClientWatch::RequestDone(ConnectionContext* connection) {
    const std::lock_guard lock(mutex_);
    connection->reading = true;
    connection->deadline = WatchClock::now() + limit_;
}

void SlowClientWatch::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(200));
        const auto now = WatchClock::now();
        for (ConnectionContext* connection : open_) {
            if (!connection->reading || connection->dropped || now < connection->deadline) continue;
            connection->dropped = true;
            ::shutdown(connection->socket, SHUT_RDWR);
            state_.Log(LOG_NOTICE, "dropped the slow client " + connection->remote + ": no whole request within " +
                                       std::to_string(limit_.count()) + " s");
        }
    }
}

}  // namespace zarvik::http
