// Streamed responses over a real socket: sent as produced, kept alive past
// the idle and slow-client limits, ended by a client that goes and by Stop;
// and the "?ticket=" hook, taken on its one path only.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "TestServer.h"

namespace zarvik::http::test {
namespace {

// Sends "data: 1" and "data: 2", then nothing; counts the streams alive.
struct TwoEvents : Stream {
    explicit TwoEvents(std::atomic<int>& alive) : alive(alive) { ++alive; }
    ~TwoEvents() override { --alive; }
    bool Next(std::string& out, std::chrono::milliseconds wait) override {
        if (sent < 2)
            out = "data: " + std::to_string(++sent) + "\n\n";
        else
            std::this_thread::sleep_for(wait);
        return true;
    }
    std::atomic<int>& alive;
    int sent = 0;
};

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTokenFile(dir.path / "tokens", 0600);
        ServerSettings settings;
        settings.listen = "127.0.0.1:0";
        settings.tokens = (dir.path / "tokens").string();
        settings.limits.clientTimeoutSeconds = 1;
        auto handler = [this](const Request& request) {
            Response response;
            response.contentType = "text/event-stream";
            response.body = request.role == Role::Read ? "read" : "control";
            if (request.path == "/stream") response.stream = std::make_shared<TwoEvents>(alive);
            return response;
        };
        server = std::make_unique<HttpServer>(settings, TokenFile::Read(settings.tokens), handler,
                                              [](int, std::string_view) {});
        server->AcceptTickets("/stream", [](std::string_view t) { return t == "good" ? Role::Read : Role::None; });
        server->Start();
    }
    // Opens /stream and reads until the text holds UNTIL (or 5 s pass quietly).
    int Open(const std::string& target, const std::string& auth, std::string& seen, const std::string& until) {
        const int fd = Connect(server->Port());
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + auth + "\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        ReadUntil(fd, seen, until);
        return fd;
    }
    static bool ReadUntil(int fd, std::string& seen, const std::string& until) {
        char buffer[1024];
        while (seen.find(until) == std::string::npos) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            seen.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
    ScratchDir dir;
    std::atomic<int> alive{0};
    std::unique_ptr<HttpServer> server;
};

const std::string kAuth = std::string("Authorization: Bearer ") + kReadToken + "\r\n";

TEST_F(StreamTest, SentAsProducedAndKeptAliveBeyondTheIdleLimit) {
    std::string seen;
    const int fd = Open("/stream", kAuth, seen, "data: 2\n\n");
    EXPECT_EQ(StatusOf(seen), 200);
    EXPECT_NE(seen.find("text/event-stream"), std::string::npos);
    EXPECT_LT(seen.find("data: 1\n\n"), seen.find("data: 2\n\n"));
    // Three idle limits later the stream still delivers keep-alives.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    seen.clear();
    EXPECT_TRUE(ReadUntil(fd, seen, ": keep-alive\n\n"));
    std::string more;
    EXPECT_TRUE(ReadUntil(fd, more, ": keep-alive\n\n"));
    ::close(fd);
}

TEST_F(StreamTest, EndsWhenTheClientGoesAndOnStop) {
    std::string seen;
    const int gone = Open("/stream", kAuth, seen, "data: 2\n\n");
    ::close(gone);
    for (int i = 0; i < 100 && alive.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(alive.load(), 0);

    seen.clear();
    const int open = Open("/stream", kAuth, seen, "data: 2\n\n");
    server->Stop();  // returns with the stream open
    EXPECT_EQ(alive.load(), 0);
    std::string rest;
    EXPECT_FALSE(ReadUntil(open, rest, "never"));  // closed by the server
    ::close(open);
}

TEST_F(StreamTest, TicketTakenOnItsPathOnly) {
    const struct {
        std::string target, auth;
        int status;
    } cases[] = {
        {"/stream?ticket=good", "", 200},    {"/stream?x=1&ticket=good", "", 200},
        {"/stream?ticket=bad", "", 401},     {"/stream?ticket=", "", 401},
        {"/stream?xticket=good", "", 401},   {"/other?ticket=good", "", 401},
        {"/stream/x?ticket=good", "", 401},  {"/stream", "", 401},
        {"/stream?ticket=good", kAuth, 200},
    };
    for (const auto& c : cases) {
        std::string seen;
        const int fd = Open(c.target, c.auth, seen, "\r\n\r\n");
        EXPECT_EQ(StatusOf(seen), c.status) << c.target << " " << c.auth;
        ::close(fd);
    }
}

}  // namespace
}  // namespace zarvik::http::test
