#include "service/Tickets.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace zarvik::service {
namespace {

constexpr std::size_t kTicketBytes = 32;

std::string RandomHex() {
    std::array<unsigned char, kTicketBytes> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::system_error(errno, std::generic_category(), "getrandom");
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace

Tickets::Tickets(std::chrono::seconds lifetime, Clock now) : lifetime_(lifetime), now_(std::move(now)) {}

std::optional<Tickets::Issued> Tickets::Issue(http::Role role) {
    const WallTime now = now_();
    std::string ticket = RandomHex();
    const std::lock_guard lock(mutex_);
    std::erase_if(tickets_, [now](const auto& entry) { return entry.second.expiresAt <= now; });
    if (tickets_.size() >= kMaxOutstanding) return std::nullopt;
    const WallTime expiresAt = now + lifetime_;
    tickets_.emplace(ticket, Entry{role, expiresAt});
    return Issued{std::move(ticket), expiresAt};
}

http::Role Tickets::Redeem(std::string_view ticket) {
    const WallTime now = now_();
    const std::lock_guard lock(mutex_);
    const auto entry = tickets_.find(ticket);
    if (entry == tickets_.end()) return http::Role::None;
    const Entry found = entry->second;
    tickets_.erase(entry);
    return found.expiresAt > now ? found.role : http::Role::None;
}

}  // namespace zarvik::service
