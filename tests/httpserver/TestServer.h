// A server on an ephemeral loopback port (and optionally a Unix socket) with
// a handler that echoes what it was given, and the clients the tests use: a
// raw socket for requests no polite client sends, libcurl for TLS and Unix sockets.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "httpserver/HttpServer.h"

namespace zarvik::http::test {

inline constexpr const char* kReadToken = "read-token-0123456789abcdef";
inline constexpr const char* kControlToken = "control-token-0123456789abcdef";

// A scratch folder, removed with everything in it.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    std::filesystem::path path;
};

// Writes the two tokens above to FILE with MODE.
void WriteTokenFile(const std::filesystem::path& file, unsigned mode);

// Starts a server whose handler answers {"method","path","query","body","remote","role"}.
std::unique_ptr<HttpServer> StartEchoServer(ServerSettings settings, const std::filesystem::path& tokenFile);

// Connects to 127.0.0.1:PORT (-1 on failure); reads time out after 5 s.
int Connect(int port);
// Sends TEXT and reads until the peer closes or a whole response (by its
// Content-Length) is in; "" when nothing came.
std::string Exchange(int socket, const std::string& text);
std::string RawRequest(int port, const std::string& text);
int StatusOf(const std::string& response);
std::string BodyOf(const std::string& response);

struct CurlReply {
    long status = 0;
    std::string body;
    std::string error;
};
// GET URL with the read token; CA_FILE for https, UNIX_SOCKET to go through one.
CurlReply CurlGet(const std::string& url, const std::string& caFile = "", const std::string& unixSocket = "");

}  // namespace zarvik::http::test
