// A client of the station service (zarvikd): GET requests on its JSON API,
// each answered by the parsed document or a HostError naming the cause.
//
// Base URL: http://HOST[:PORT], https://HOST[:PORT] (the system's CAs, or
// the CA file given) or unix:PATH (HTTP on the service's Unix socket).
// Every request carries the bearer token, times out (connect and whole
// request), never follows a redirect and reads at most kMaxBodyBytes.
//
// Failures and their exit codes (hostkit/ExitCodes.h):
//   4  the service cannot be reached (refused, no such host or socket), the
//      TLS handshake or certificate check fails, the token is refused
//      (401/403), the URL is not one of the three forms
//   2  the service knows no such pump, line or route (404)
//   1  the request timed out, the service or its line failed (5xx, any
//      other status), a body that is not the JSON document expected
// An error status names the service's own code and message
// ("service: 404 unknown_pump: no pump 3 on line 1").
#pragma once

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "hostkit/ExitCodes.h"

namespace zarvik::serviceclient {

struct ClientSettings {
    std::string url;     // base URL, as above
    std::string token;   // bearer token (TokenFromFile)
    std::string caFile;  // https: PEM file of the CA to trust instead of the system's ("" = system's)
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds timeout{15000};  // the whole request; the service reads a line within a few seconds
};

class ServiceClient {
public:
    static constexpr std::size_t kMaxBodyBytes = 8 * 1024 * 1024;

    // Checks the URL's form (throws a HostError, code 4, when it is none of the three).
    explicit ServiceClient(ClientSettings settings);

    // GET base + path ("/api/v1/totals"): the JSON document of a 200 reply.
    nlohmann::json Get(std::string_view path) const;

    const std::string& Url() const { return settings_.url; }

private:
    ClientSettings settings_;
    std::string unixSocket_;  // unix:PATH
    std::string base_;        // scheme://host[:port], without a trailing slash
};

// The token in a token file: its first line that is neither blank nor a '#'
// comment, either the token alone or "ROLE TOKEN" as in the service's own
// token file. Refused (HostError, code 4) when others may read or write the
// file, when it holds no token, or when the token is not at least 16 visible
// ASCII characters.
std::string TokenFromFile(const std::string& path);

// Runs `read` on a document of the service; a missing key or a value of
// another type becomes a HostError (code 1) naming the route.
template <typename Read>
auto ReadDocument(std::string_view route, Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const nlohmann::json::exception& e) {
        throw host::HostError(host::kExitExchangeFailed, "service: the reply to " + std::string(route) +
                                                             " is not the document expected (" + e.what() + ")");
    }
}

}  // namespace zarvik::serviceclient
