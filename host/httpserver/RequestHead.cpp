#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "ServerState.h"

namespace zarvik::http {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

MHD_Result AddHeaderBytes(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* total = static_cast<std::size_t*>(cls);
    *total += std::string_view(key).size() + (value != nullptr ? std::string_view(value).size() : 0) + 4;  // ": ", CRLF
    return MHD_YES;
}

}  // namespace

bool DecodePath(std::string_view raw, std::string& path) {
    return !raw.empty() && raw.front() == '/' && PercentDecode(raw, path, false);
}

bool PercentDecode(std::string_view raw, std::string& out, bool plusIsSpace) {
    out.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        int byte = static_cast<unsigned char>(raw[i]);
        if (plusIsSpace && raw[i] == '+') {
            byte = ' ';
        } else if (raw[i] == '%') {
            const int high = i + 2 < raw.size() ? HexDigit(raw[i + 1]) : -1;
            const int low = i + 2 < raw.size() ? HexDigit(raw[i + 2]) : -1;
            if (high < 0 || low < 0) return false;
            byte = high * 16 + low;
            i += 2;
        }
        if (byte < 0x20 || byte == 0x7F) return false;
        out.push_back(static_cast<char>(byte));
    }
    return true;
}

bool BearerToken(std::string_view authorization, std::string_view& token) {
    constexpr std::string_view kScheme = "bearer ";
    if (authorization.size() <= kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        const char c = authorization[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != kScheme[i]) return false;
    }
    token = authorization.substr(kScheme.size());
    const auto first = token.find_first_not_of(' ');
    if (first == std::string_view::npos) return false;
    token = token.substr(first);
    token = token.substr(0, token.find_last_not_of(' ') + 1);
    return token.find(' ') == std::string_view::npos;
}

std::size_t HeadBytes(MHD_Connection* connection, std::string_view method, std::string_view uri,
                      std::string_view version) {
    std::size_t total = method.size() + uri.size() + version.size() + 4;  // two spaces, CRLF
    MHD_get_connection_values(connection, MHD_HEADER_KIND, AddHeaderBytes, &total);
    return total + 2;  // the blank line
}

bool QueryValue(std::string_view query, std::string_view key, std::string_view& value) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key && pair[key.size()] == '=') {
            value = pair.substr(key.size() + 1);
            return true;
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return false;
}

std::string RemoteOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const sockaddr* address = info != nullptr ? info->client_addr : nullptr;
    char text[INET6_ADDRSTRLEN] = {};
    if (address != nullptr && address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
    }
    if (address != nullptr && address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    return "unix";
}

}  // namespace zarvik::http
