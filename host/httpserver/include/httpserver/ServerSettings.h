// Where and how the station service listens: the station file's "service"
// object (docs/station-file.md), checked whole before anything is opened.
//
//   "service": {"listen": "127.0.0.1:8710",              optional; "" = no TCP listener
//               "unixSocket": "/run/zarvikd/api.sock",   optional
//               "tls": {"certificate": "PEM", "key": "PEM"},  optional; required beyond the loopback
//               "tokens": "/etc/zarvik/tokens",          required
//               "limits": {"maxConnections": 64, "maxBodyBytes": 16384,
//                          "maxHeaderBytes": 8192, "clientTimeoutSeconds": 10}}   optional, each key too
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvik::http {

struct Limits {
    int maxConnections = 64;            // beyond it: 503 too_many_connections
    std::size_t maxBodyBytes = 16384;   // beyond it: 413 payload_too_large
    std::size_t maxHeaderBytes = 8192;  // request line and headers; beyond it: 431 headers_too_large
    int clientTimeoutSeconds = 10;      // a connection idle this long is dropped
};

struct ServerSettings {
    std::string listen = "127.0.0.1:8710";  // host:port ("[::1]:8710" for IPv6), port 0 = any free port; "" = none
    std::string unixSocket;                 // "" = none
    std::string certificate, key;           // PEM files; both or neither
    std::string tokens;                     // token file, required
    Limits limits;
};

// Parses the "service" object's JSON text. Throws zarvik::host::StationFileError
// (SOURCE, "$.service.KEY", problem) for the first problem: unknown keys, wrong
// types, values out of range, no TCP or Unix listener, a listen address beyond
// the loopback without certificate and key, a certificate without a key.
ServerSettings ParseServerSettings(std::string_view serviceJson, const std::string& source);

// True for 127.0.0.0/8, ::1 and "localhost" (the host part of a listen address).
bool IsLoopbackHost(std::string_view host);

// Splits "host:port" / "[v6]:port"; false when it is not of that form or the
// port is not 0..65535.
bool SplitListenAddress(std::string_view listen, std::string& host, int& port);

}  // namespace zarvik::http
