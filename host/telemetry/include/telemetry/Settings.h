// The telemetry section of the station file, "service": {"telemetry": {...}}:
// which broker the station publishes to, as whom, and under which prefix.
//
//   {"broker": "mqtt.example.net:8883",          host:port (host alone: 8883 with TLS, else 1883)
//    "tls": {"ca": "/etc/zarvik/ca.pem",          the broker's CA; with a client
//            "certificate": "...", "key": "..."},  certificate and key, or neither
//    "user": "station-7", "passwordFile": "/etc/zarvik/mqtt-password",
//    "clientId": "zarvikd-station-7",            default: the prefix with '/' as '-'
//    "prefix": "zarvik/station-7",               required; no wildcards, no empty level
//    "totalsEverySeconds": 3600,                 0: totals on request only
//    "keepAliveSeconds": 30}
//
// A broker beyond the loopback needs "tls". The password is never in the
// station file: it is the first line of a file others may not read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvik::telemetry {

struct TelemetrySettings {
    std::string host;
    int port = 1883;
    std::string ca;  // "" = no TLS
    std::string certificate, key;
    std::string user;
    std::string password;  // read from the password file
    std::string clientId;
    std::string prefix;
    int totalsEverySeconds = 0;
    int keepAliveSeconds = 30;
};

// The telemetry settings of the service section's JSON text, nullopt when it
// has none. Throws zarvik::host::StationFileError naming the key
// ("$.service.telemetry.prefix") with the cause, or ConfigError when the
// password file cannot be used.
std::optional<TelemetrySettings> ParseTelemetrySettings(std::string_view serviceJson, const std::string& source);

// The first line of PATH; throws zarvik::host::ConfigError when it cannot be
// read, is empty, or others may read or write it.
std::string ReadPasswordFile(const std::string& path);

// A prefix topics can be built on: levels of visible characters without
// '+', '#' or an empty one.
bool IsValidPrefix(std::string_view prefix);

}  // namespace zarvik::telemetry
