#include "httpserver/ServerSettings.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "station/StationFile.h"

namespace zarvik::http {
namespace {

using nlohmann::json;

// sockaddr_un's sun_path holds 108 bytes with the closing NUL.
constexpr std::size_t kMaxUnixSocketPath = 107;

// Reads one object of the section, naming every key by its path.
class SectionReader {
public:
    SectionReader(const std::string& source, std::string path) : source_(source), path_(std::move(path)) {}

    [[noreturn]] void Fail(const std::string& key, const std::string& problem) const {
        throw host::StationFileError(source_, key.empty() ? path_ : path_ + "." + key, problem);
    }
    void RequireObject(const json& value) const {
        if (!value.is_object()) Fail("", "must be an object");
    }
    void OnlyKeys(const json& object, std::initializer_list<const char*> known) const {
        for (const auto& [key, value] : object.items()) {
            bool found = false;
            for (const char* name : known) found = found || key == name;
            if (!found) Fail(key, "unknown key");
        }
    }
    std::string String(const json& object, const char* key, bool allowEmpty) const {
        const json& value = object.at(key);
        if (!value.is_string()) Fail(key, "must be a string");
        auto text = value.get<std::string>();
        if (text.empty() && !allowEmpty) Fail(key, "must not be empty");
        if (text.find('\0') != std::string::npos) Fail(key, "must not contain NUL");
        return text;
    }
    std::int64_t Integer(const json& object, const char* key, std::int64_t low, std::int64_t high) const {
        const json& value = object.at(key);
        const std::string range = "must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
        if (!value.is_number_integer()) Fail(key, range);
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(high))
            Fail(key, range);
        const auto number = value.get<std::int64_t>();
        if (number < low || number > high) Fail(key, range);
        return number;
    }
    const std::string& Path() const { return path_; }

private:
    const std::string& source_;
    std::string path_;
};

Limits ReadLimits(const json& limits, const std::string& source) {
    const SectionReader reader(source, "$.service.limits");
    reader.RequireObject(limits);
    reader.OnlyKeys(limits, {"maxConnections", "maxBodyBytes", "maxHeaderBytes", "clientTimeoutSeconds"});
    Limits result;
    if (limits.contains("maxConnections"))
        result.maxConnections = static_cast<int>(reader.Integer(limits, "maxConnections", 1, 10000));
    if (limits.contains("maxBodyBytes"))
        result.maxBodyBytes = static_cast<std::size_t>(reader.Integer(limits, "maxBodyBytes", 0, 16 << 20));
    if (limits.contains("maxHeaderBytes"))
        result.maxHeaderBytes = static_cast<std::size_t>(reader.Integer(limits, "maxHeaderBytes", 256, 1 << 20));
    if (limits.contains("clientTimeoutSeconds"))
        result.clientTimeoutSeconds = static_cast<int>(reader.Integer(limits, "clientTimeoutSeconds", 1, 3600));
    return result;
}

void ReadTls(const json& tls, const std::string& source, ServerSettings& settings) {
    const SectionReader reader(source, "$.service.tls");
    reader.RequireObject(tls);
    reader.OnlyKeys(tls, {"certificate", "key"});
    if (!tls.contains("certificate")) reader.Fail("certificate", "is missing (a PEM file)");
    if (!tls.contains("key")) reader.Fail("key", "is missing (a PEM file)");
    settings.certificate = reader.String(tls, "certificate", false);
    settings.key = reader.String(tls, "key", false);
}

void CheckListen(const SectionReader& reader, const ServerSettings& settings) {
    if (settings.listen.empty()) {
        if (settings.unixSocket.empty())
            reader.Fail("listen", "is empty and there is no \"unixSocket\": nothing to listen on");
        return;
    }
    std::string host;
    int port = 0;
    if (!SplitListenAddress(settings.listen, host, port))
        reader.Fail("listen", "must be HOST:PORT (an IP address or localhost, a port from 0 to 65535)");
    if (!IsLoopbackHost(host) && settings.certificate.empty())
        reader.Fail("listen", "\"" + settings.listen +
                                  "\" is beyond the loopback: it needs \"tls\" with a certificate and a key");
}

}  // namespace

bool SplitListenAddress(std::string_view listen, std::string& host, int& port) {
    const auto colon = listen.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view hostPart = listen.substr(0, colon);
    const std::string_view portPart = listen.substr(colon + 1);
    if (hostPart.front() == '[') {
        if (hostPart.size() < 3 || hostPart.back() != ']') return false;
        hostPart = hostPart.substr(1, hostPart.size() - 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, std::string(hostPart).c_str(), &v6) != 1) return false;
    } else if (hostPart != "localhost") {
        in_addr v4{};
        if (inet_pton(AF_INET, std::string(hostPart).c_str(), &v4) != 1) return false;
    }
    int value = -1;
    const auto [end, error] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
    if (portPart.empty() || error != std::errc() || end != portPart.data() + portPart.size() || value < 0 ||
        value > 65535)
        return false;
    host = std::string(hostPart);
    port = value;
    return true;
}

bool IsLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, std::string(host).c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, std::string(host).c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

ServerSettings ParseServerSettings(std::string_view serviceJson, const std::string& source) {
    const SectionReader reader(source, "$.service");
    json service;
    try {
        service = json::parse(serviceJson);
    } catch (const json::parse_error& e) {
        reader.Fail("", std::string("is not JSON: ") + e.what());
    }
    reader.RequireObject(service);
    // "telemetry" is read by the telemetry (telemetry/Settings.h).
    reader.OnlyKeys(service, {"listen", "unixSocket", "tls", "tokens", "limits", "journal", "telemetry"});
    ServerSettings settings;
    if (service.contains("listen")) settings.listen = reader.String(service, "listen", true);
    if (service.contains("unixSocket")) settings.unixSocket = reader.String(service, "unixSocket", true);
    if (settings.unixSocket.size() > kMaxUnixSocketPath)
        reader.Fail("unixSocket", "is longer than " + std::to_string(kMaxUnixSocketPath) + " bytes");
    if (service.contains("tls")) ReadTls(service.at("tls"), source, settings);
    if (!service.contains("tokens")) reader.Fail("tokens", "is missing (the token file)");
    settings.tokens = reader.String(service, "tokens", false);
    if (service.contains("limits")) settings.limits = ReadLimits(service.at("limits"), source);
    CheckListen(reader, settings);
    return settings;
}

}  // namespace zarvik::http
