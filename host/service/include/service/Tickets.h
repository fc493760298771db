// Tickets for the event stream, for clients that cannot send a bearer token
// (a browser's EventSource): 32 random bytes (getrandom) as hex, issued for a
// token's role, good once, within their lifetime. Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "httpserver/HttpTypes.h"
#include "service/StationState.h"

namespace zarvik::service {

class Tickets {
public:
    using Clock = std::function<WallTime()>;
    static constexpr std::size_t kMaxOutstanding = 4096;

    explicit Tickets(
        std::chrono::seconds lifetime = std::chrono::seconds(30),
        Clock now = [] { return std::chrono::system_clock::now(); });

    struct Issued {
        std::string ticket;
        WallTime expiresAt;
    };
    // nullopt when kMaxOutstanding unexpired tickets are out. Throws
    // std::system_error when the system gives no random bytes.
    std::optional<Issued> Issue(http::Role role);
    // The ticket's role, once; None when unknown, used or expired.
    http::Role Redeem(std::string_view ticket);

private:
    struct Entry {
        http::Role role;
        WallTime expiresAt;
    };
    const std::chrono::seconds lifetime_;
    const Clock now_;
    std::mutex mutex_;
    std::map<std::string, Entry, std::less<>> tickets_;
};

}  // namespace zarvik::service
