#include "Listeners.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"
#include "httpserver/ServerSettings.h"

namespace zarvik::http {
namespace {

constexpr int kBacklog = 128;

[[noreturn]] void Fail(const std::string& what, int error, int socket) {
    if (socket >= 0) ::close(socket);
    throw host::ConfigError("cannot listen on " + host::VisibleText(what) + ": " + std::strerror(error));
}

}  // namespace

int ListenTcp(const std::string& listen) {
    std::string host;
    int port = 0;
    if (!SplitListenAddress(listen, host, port)) Fail(listen, EINVAL, -1);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (host == "localhost") host = "127.0.0.1";
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof(sockaddr_in6);
    } else {
        Fail(listen, EINVAL, -1);
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail(listen, errno, -1);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ss_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) Fail(listen, errno, fd);
    if (::listen(fd, kBacklog) != 0) Fail(listen, errno, fd);
    return fd;
}

int BoundPort(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

int ListenUnix(const std::string& path) {
    const std::string what = "unix:" + path;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) Fail(what, ENAMETOOLONG, -1);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            throw host::ConfigError("cannot listen on " + host::VisibleText(what) +
                                    ": the path exists and is not a socket; not replacing it");
        if (::unlink(path.c_str()) != 0) Fail(what, errno, -1);  // a stale socket of an earlier run
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail(what, errno, -1);
    // The socket is made without permissions for others from the start.
    const mode_t previous = ::umask(0117);
    const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0) Fail(what, bindError, fd);
    if (::chmod(path.c_str(), 0660) != 0 || ::listen(fd, kBacklog) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        Fail(what, error, fd);
    }
    return fd;
}

void RemoveUnixSocket(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) ::unlink(path.c_str());
}

}  // namespace zarvik::http
