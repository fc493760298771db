#include "telemetry/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>

#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"
#include "httpserver/ServerSettings.h"
#include "station/StationFile.h"

namespace zarvik::telemetry {
namespace {

using nlohmann::json;

constexpr std::size_t kPasswordFileLimit = 4096;
constexpr const char* kPath = "$.service.telemetry";

class Reader {
public:
    Reader(const std::string& source, std::string path) : source_(source), path_(std::move(path)) {}
    [[noreturn]] void Fail(const std::string& key, const std::string& problem) const {
        throw host::StationFileError(source_, key.empty() ? path_ : path_ + "." + key, problem);
    }
    void Object(const json& value, std::initializer_list<const char*> known) const {
        if (!value.is_object()) Fail("", "must be an object");
        for (const auto& [key, item] : value.items()) {
            bool found = false;
            for (const char* name : known) found = found || key == name;
            if (!found) Fail(key, "unknown key");
        }
    }
    std::string String(const json& object, const char* key) const {
        if (!object.contains(key)) return {};
        const json& value = object.at(key);
        if (!value.is_string() || value.get<std::string>().empty()) Fail(key, "must be a non-empty string");
        auto text = value.get<std::string>();
        if (text.find('\0') != std::string::npos) Fail(key, "must not contain NUL");
        return text;
    }
    int Integer(const json& object, const char* key, int low, int high, int otherwise) const {
        if (!object.contains(key)) return otherwise;
        const json& value = object.at(key);
        const bool inRange = value.is_number_integer() && value.get<std::int64_t>() >= low &&
                             value.get<std::int64_t>() <= high &&
                             !(value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(high));
        if (!inRange) Fail(key, "must be an integer from " + std::to_string(low) + " to " + std::to_string(high));
        return value.get<int>();
    }

private:
    const std::string& source_;
    std::string path_;
};

// "host:port" or "host" (a name, an IPv4 address or a bracketed IPv6 one).
void ReadBroker(const Reader& reader, const std::string& broker, TelemetrySettings& settings) {
    std::string host = broker;
    const auto colon = broker.rfind(':');
    const bool bracketed = !broker.empty() && broker.front() == '[';
    if (colon != std::string::npos && (!bracketed || broker[colon - 1] == ']')) {
        host = broker.substr(0, colon);
        const std::string port = broker.substr(colon + 1);
        int value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            reader.Fail("broker", "must be HOST or HOST:PORT with a port from 1 to 65535");
        settings.port = value;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) reader.Fail("broker", "names no host");
    settings.host = host;
}

bool IsLoopback(const std::string& host) { return http::IsLoopbackHost(host); }

void ReadTls(const Reader& reader, const json& tls, TelemetrySettings& settings) {
    reader.Object(tls, {"ca", "certificate", "key"});
    settings.ca = reader.String(tls, "ca");
    settings.certificate = reader.String(tls, "certificate");
    settings.key = reader.String(tls, "key");
    if (settings.ca.empty()) reader.Fail("ca", "is missing (the broker's CA, a PEM file)");
    if (settings.certificate.empty() != settings.key.empty())
        reader.Fail(settings.key.empty() ? "key" : "certificate", "a client certificate needs its key and back");
}

// Refuses the file (ConfigError) with CAUSE.
[[noreturn]] void RefusePassword(const std::string& path, const std::string& cause) {
    throw host::ConfigError("MQTT password file " + host::VisibleText(path) + ": " + cause);
}

}  // namespace

bool IsValidPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') return false;
    if (prefix.find("//") != std::string_view::npos) return false;
    for (const char c : prefix)
        if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x21 || c == 0x7f) return false;
    return true;
}

std::string ReadPasswordFile(const std::string& path) {
    // One descriptor, so the mode checked is the mode of the file read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) RefusePassword(path, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat status {};
    std::string cause;
    std::string text(kPasswordFileLimit + 1, '\0');
    ssize_t got = 0;
    if (::fstat(fd, &status) != 0)
        cause = std::string("cannot be read: ") + std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        cause = "is not a regular file";
    else if ((status.st_mode & 0007) != 0)
        cause = "others may read or write it; allow the owner and group only (chmod o-rwx)";
    else if ((got = ::read(fd, text.data(), text.size())) < 0)
        cause = std::string("cannot be read: ") + std::strerror(errno);
    ::close(fd);
    if (!cause.empty()) RefusePassword(path, cause);
    if (static_cast<std::size_t>(got) > kPasswordFileLimit) RefusePassword(path, "is too large for a password");
    text.resize(static_cast<std::size_t>(got));
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) RefusePassword(path, "holds no password on its first line");
    return text;
}

std::optional<TelemetrySettings> ParseTelemetrySettings(std::string_view serviceJson, const std::string& source) {
    const Reader reader(source, kPath);
    json service;
    try {
        service = json::parse(serviceJson);
    } catch (const json::parse_error& e) {
        throw host::StationFileError(source, "$.service", std::string("is not JSON: ") + e.what());
    }
    if (!service.is_object() || !service.contains("telemetry")) return std::nullopt;
    const json& section = service.at("telemetry");
    reader.Object(section, {"broker", "tls", "user", "passwordFile", "clientId", "prefix", "totalsEverySeconds",
                            "keepAliveSeconds"});
    TelemetrySettings settings;
    if (section.contains("tls")) ReadTls(Reader(source, std::string(kPath) + ".tls"), section.at("tls"), settings);
    settings.port = settings.ca.empty() ? 1883 : 8883;
    const std::string broker = reader.String(section, "broker");
    if (broker.empty()) reader.Fail("broker", "is missing (HOST or HOST:PORT)");
    ReadBroker(reader, broker, settings);
    if (settings.ca.empty() && !IsLoopback(settings.host))
        reader.Fail("broker", "\"" + broker + "\" is beyond the loopback: it needs \"tls\"");
    settings.prefix = reader.String(section, "prefix");
    if (!IsValidPrefix(settings.prefix))
        reader.Fail("prefix", "must be topic levels like \"zarvik/station-7\" (no '+', '#', blanks or empty level)");
    settings.user = reader.String(section, "user");
    const std::string passwordFile = reader.String(section, "passwordFile");
    if (!passwordFile.empty() && settings.user.empty()) reader.Fail("passwordFile", "needs a \"user\"");
    if (!passwordFile.empty()) settings.password = ReadPasswordFile(passwordFile);
    settings.clientId = reader.String(section, "clientId");
    if (settings.clientId.empty()) {
        settings.clientId = settings.prefix;
        for (char& c : settings.clientId)
            if (c == '/') c = '-';
    }
    settings.totalsEverySeconds = reader.Integer(section, "totalsEverySeconds", 0, 7 * 24 * 3600, 0);
    settings.keepAliveSeconds = reader.Integer(section, "keepAliveSeconds", 5, 3600, 30);
    return settings;
}

}  // namespace zarvik::telemetry
