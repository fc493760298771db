#include "TestServer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

namespace zarvik::http::test {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvik-http-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void WriteTokenFile(const std::filesystem::path& file, unsigned mode) {
    std::ofstream(file) << "# test tokens\n\nread " << kReadToken << "\ncontrol\t" << kControlToken << "\n";
    std::filesystem::permissions(file, static_cast<std::filesystem::perms>(mode));
}

std::unique_ptr<HttpServer> StartEchoServer(ServerSettings settings, const std::filesystem::path& tokenFile) {
    settings.tokens = tokenFile.string();
    auto handler = [](const Request& request) {
        const char* roles[] = {"none", "read", "control"};
        const nlohmann::json echo = {{"method", request.method}, {"path", request.path},
                                     {"query", request.query},   {"body", request.body},
                                     {"remote", request.remote}, {"role", roles[static_cast<int>(request.role)]}};
        Response response;
        response.body = echo.dump();
        return response;
    };
    auto server =
        std::make_unique<HttpServer>(settings, TokenFile::Read(settings.tokens), handler, [](int, std::string_view) {});
    server->Start();
    return server;
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

bool Complete(const std::string& response) {
    const auto headEnd = response.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    const auto length = response.find("Content-Length: ");
    if (length == std::string::npos || length > headEnd) return false;
    return response.size() >= headEnd + 4 + std::stoul(response.substr(length + 16));
}

}  // namespace

std::string Exchange(int socket, const std::string& text) {
    // A peer that closes early makes send fail; what it answered is still read.
    ::send(socket, text.data(), text.size(), MSG_NOSIGNAL);
    std::string response;
    char buffer[4096];
    while (!Complete(response)) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        response.append(buffer, static_cast<std::size_t>(got));
    }
    return response;
}

std::string RawRequest(int port, const std::string& text) {
    const int fd = Connect(port);
    if (fd < 0) return "";
    std::string response = Exchange(fd, text);
    ::close(fd);
    return response;
}

int StatusOf(const std::string& response) {
    if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12) return 0;
    return std::atoi(response.c_str() + 9);
}

std::string BodyOf(const std::string& response) {
    const auto headEnd = response.find("\r\n\r\n");
    return headEnd == std::string::npos ? "" : response.substr(headEnd + 4);
}

namespace {

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

}  // namespace

CurlReply CurlGet(const std::string& url, const std::string& caFile, const std::string& unixSocket) {
    CurlReply reply;
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, (std::string("Authorization: Bearer ") + kReadToken).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (!unixSocket.empty()) curl_easy_setopt(curl, CURLOPT_UNIX_SOCKET_PATH, unixSocket.c_str());
    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) reply.error = curl_easy_strerror(result);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

}  // namespace zarvik::http::test
