// The service client against a scripted HTTP server: documents, the
// service's error replies, transport failures, the URL forms and the token
// file, each failure with its exit code and cause.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FakeService.h"
#include "serviceclient/ServiceClient.h"

namespace zarvik::serviceclient {
namespace {

using test::FakeService;
using test::HttpReply;
using namespace std::chrono_literals;

constexpr const char* kToken = "read-token-0123456789";

ClientSettings Settings(const std::string& url) {
    ClientSettings s;
    s.url = url;
    s.token = kToken;
    s.connectTimeout = 2000ms;
    s.timeout = 3000ms;
    return s;
}

std::string Local(const FakeService& f) { return "http://127.0.0.1:" + std::to_string(f.Port()); }

// The error a GET ends in: its exit code and text.
std::pair<int, std::string> Failure(const ClientSettings& s, const std::string& path = "/api/v1/totals") {
    try {
        ServiceClient(s).Get(path);
    } catch (const host::HostError& e) {
        return {e.Code(), e.what()};
    }
    return {0, "no error"};
}

TEST(ServiceClient, GetSendsTheTokenAndReturnsTheDocument) {
    FakeService fake(HttpReply(200, R"({"time": "t", "lines": []})"));
    const nlohmann::json doc = ServiceClient(Settings(Local(fake) + "/")).Get("/api/v1/totals");
    EXPECT_EQ(doc["time"], "t");
    const std::string request = fake.LastRequest();
    EXPECT_TRUE(request.starts_with("GET /api/v1/totals HTTP/1.1\r\n")) << request;
    EXPECT_NE(request.find(std::string("Authorization: Bearer ") + kToken + "\r\n"), std::string::npos) << request;
}

TEST(ServiceClient, UnixSocket) {
    const std::string socket = testing::TempDir() + "serviceclient-" + std::to_string(getpid()) + ".sock";
    FakeService fake(HttpReply(200, R"({"version": "1"})"), socket);
    EXPECT_EQ(ServiceClient(Settings("unix:" + socket)).Get("/api/v1/service")["version"], "1");
    std::filesystem::remove(socket);
}

TEST(ServiceClient, ErrorRepliesNameTheStatusAndTheServicesCode) {
    struct Case {
        std::string reply;
        int exitCode;
        std::string text;
    };
    const Case cases[] = {
        {HttpReply(404, R"({"code": "unknown_pump", "message": "no pump 3 \u001b[2J"})"), 2,
         "404 unknown_pump: no pump 3 \\x1B[2J"},
        {HttpReply(401, R"({"code": "unauthorized", "message": "unknown token"})"), 4,
         "401 unauthorized: unknown token"},
        {HttpReply(504, R"({"code": "line_timeout", "message": "no reply"})"), 1, "504 line_timeout: no reply"},
        {HttpReply(500, "<html>oops</html>"), 1, "500 (the body is not the service's JSON error)"},
        {HttpReply(302, "", "Location: http://127.0.0.1:1/\r\n"), 1, "302 (the body"},
        {HttpReply(200, "not json"), 1, "the reply is not a JSON object"},
        {HttpReply(200, "[1, 2]"), 1, "the reply is not a JSON object"},
    };
    for (const Case& c : cases) {
        FakeService fake(c.reply);
        const auto [code, text] = Failure(Settings(Local(fake)));
        EXPECT_EQ(code, c.exitCode) << text;
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_NE(text.find("GET /api/v1/totals"), std::string::npos) << text;
    }
}

TEST(ServiceClient, TransportFailuresNameTheCause) {
    {  // nothing listens on a port just closed
        int port = 0;
        {
            FakeService closed(HttpReply(200, "{}"));
            port = closed.Port();
        }
        const auto [code, text] = Failure(Settings("http://127.0.0.1:" + std::to_string(port)));
        EXPECT_EQ(code, 4);
        EXPECT_NE(text.find("Connection refused"), std::string::npos) << text;
    }
    {  // a service that never answers
        FakeService silent("");
        ClientSettings s = Settings(Local(silent));
        s.timeout = 300ms;
        const auto [code, text] = Failure(s);
        EXPECT_EQ(code, 1);
        EXPECT_NE(text.find("imed out"), std::string::npos) << text;
    }
    {  // https to a server that speaks plain HTTP: the TLS handshake fails
        FakeService plain(HttpReply(200, "{}"));
        const auto [code, text] = Failure(Settings("https://127.0.0.1:" + std::to_string(plain.Port())));
        EXPECT_EQ(code, 4);
        EXPECT_NE(text.find("SSL"), std::string::npos) << text;
    }
    {  // a CA file that is not there
        FakeService plain(HttpReply(200, "{}"));
        ClientSettings s = Settings("https://127.0.0.1:" + std::to_string(plain.Port()));
        s.caFile = "/nonexistent/ca.pem";
        EXPECT_EQ(Failure(s).first, 4);
    }
}

TEST(ServiceClient, RefusesOtherUrls) {
    for (const char* url : {"ftp://127.0.0.1", "127.0.0.1:8710", "http://", "unix:", "http://h:1/api/v1",
                            "http://user@h:1", "file:///etc/passwd"}) {
        try {
            ServiceClient{Settings(url)};
            ADD_FAILURE() << url << " taken";
        } catch (const host::HostError& e) {
            EXPECT_EQ(e.Code(), 4) << url;
        }
    }
}

TEST(ServiceClient, TokenFile) {
    const std::string path = testing::TempDir() + "serviceclient-token-" + std::to_string(getpid());
    struct Case {
        std::string text;
        mode_t mode;
        std::string token;  // "" = refused
    };
    const Case cases[] = {
        {"# the station's reader\n\nread 0123456789abcdefXYZ\n", 0600, "0123456789abcdefXYZ"},
        {"0123456789abcdefXYZ\r\n", 0640, "0123456789abcdefXYZ"},
        {"0123456789abcdefXYZ\n", 0644, ""},  // others may read it
        {"0123456789abcdefXYZ\n", 0602, ""},  // others may write it
        {"read short\n", 0600, ""},
        {"# nothing\n\n", 0600, ""},
        {"read 0123456789abcdefXYZ extra\n", 0600, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        std::ofstream(path) << c.text;
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        try {
            EXPECT_EQ(TokenFromFile(path), c.token) << c.text;
        } catch (const host::HostError& e) {
            EXPECT_TRUE(c.token.empty()) << c.text << ": " << e.what();
            EXPECT_EQ(e.Code(), 4);
        }
    }
    std::filesystem::remove(path);
    EXPECT_THROW(TokenFromFile(path), host::HostError);
}

}  // namespace
}  // namespace zarvik::serviceclient
