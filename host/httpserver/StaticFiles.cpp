#include "httpserver/StaticFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace zarvik::http {
namespace {

// The files of a page; anything bigger is no page of ours.
constexpr off_t kMaxFileBytes = 4 << 20;

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kTypes{{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".json", "application/json"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".ico", "image/x-icon"},
    {".txt", "text/plain; charset=utf-8"},
}};

bool NameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool GoodSegment(std::string_view segment) {
    if (segment.empty() || segment.front() == '.') return false;
    for (const char c : segment)
        if (!NameCharacter(c)) return false;
    return true;
}

void AddPageHeaders(Response& response) {
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.headers.emplace_back("Content-Security-Policy", std::string(kContentSecurityPolicy));
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
}

// The whole file when it is a regular file of a sensible size (a link as the
// last segment is not followed).
std::optional<std::string> ReadRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes) {
        std::string text(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done == text.size()) content = std::move(text);
    }
    ::close(fd);
    return content;
}

}  // namespace

std::string StaticFileName(std::string_view path) {
    if (path == "/") return "index.html";
    if (path.substr(0, kStaticPrefix.size()) != kStaticPrefix) return "";
    std::string_view rest = path.substr(kStaticPrefix.size());
    const std::string name(rest);
    while (true) {
        const std::size_t slash = rest.find('/');
        if (!GoodSegment(rest.substr(0, slash))) return "";
        if (slash == std::string_view::npos) return name;
        rest.remove_prefix(slash + 1);
    }
}

std::string_view StaticContentType(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return "";
    for (const auto& [extension, type] : kTypes)
        if (name.substr(dot) == extension) return type;
    return "";
}

bool StaticFiles::Serves(std::string_view path) {
    return path == "/" || path.substr(0, kStaticPrefix.size()) == kStaticPrefix;
}

std::optional<Response> StaticFiles::Handle(const Request& request) const {
    if (!Serves(request.path)) return std::nullopt;
    Response response;
    if (request.method != "GET" && request.method != "HEAD") {
        response = ErrorResponse(405, "method_not_allowed", "only GET and HEAD are allowed here");
        response.headers.emplace_back("Allow", "GET, HEAD");
    } else {
        const std::string name = StaticFileName(request.path);
        const std::string_view type = StaticContentType(name);
        std::optional<std::string> content;
        if (!name.empty() && !type.empty()) content = ReadRegularFile(folder_ + "/" + name);
        if (!content) {
            response = ErrorResponse(404, "not_found", "no such file");
        } else {
            response.body = std::move(*content);
            response.contentType = std::string(type);
        }
    }
    AddPageHeaders(response);
    return response;
}

}  // namespace zarvik::http
