// A one-thread HTTP server for the client's tests: answers every request on
// a TCP port of 127.0.0.1 or on a Unix socket with one scripted reply (or
// none: it holds the connection until stopped) and keeps the last request's
// head.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace zarvik::test {

class FakeService {
public:
    // reply: the whole HTTP reply as sent; "" = never answer.
    explicit FakeService(std::string reply, const std::string& unixSocket = "");
    ~FakeService();
    int Port() const { return port_; }
    std::string LastRequest() const;

private:
    void Serve();
    std::string reply_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::string lastRequest_;
    std::thread thread_;
};

// "HTTP/1.1 STATUS X\r\n" with the headers, a Content-Length and the body.
std::string HttpReply(int status, const std::string& body, const std::string& headers = "");

}  // namespace zarvik::test
