#include "FakeService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace zarvik::test {

FakeService::FakeService(std::string reply, const std::string& unixSocket) : reply_(std::move(reply)) {
    if (unixSocket.empty()) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
        socklen_t n = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    } else {
        listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, unixSocket.c_str(), sizeof a.sun_path - 1);
        unlink(unixSocket.c_str());
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind unix");
    }
    listen(listener_, 4);
    thread_ = std::thread([this] { Serve(); });
}

FakeService::~FakeService() {
    stop_ = true;
    thread_.join();
    close(listener_);
}

std::string FakeService::LastRequest() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

void FakeService::Serve() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd q{fd, POLLIN, 0};
            if (poll(&q, 1, 50) <= 0) continue;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            head.append(buffer, static_cast<std::size_t>(n));
            if (head[0] == '\x16') break;  // a TLS handshake: answered in plain HTTP at once
        }
        {
            std::lock_guard lock(mutex_);
            lastRequest_ = head;
        }
        if (reply_.empty()) {
            while (!stop_) poll(nullptr, 0, 50);
        } else {
            (void)!write(fd, reply_.data(), reply_.size());
        }
        close(fd);
    }
}

std::string HttpReply(int status, const std::string& body, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

}  // namespace zarvik::test
