#include "telemetry/Commands.h"

#include <exception>

#include "hostkit/IsoTime.h"

namespace zarvik::telemetry {

std::string HandleCommand(std::string_view payload, WallTime now, CommandRegister& ids, PriceSetter& prices,
                          const std::function<void()>& totals) {
    std::optional<std::string> id;
    std::string cause;
    const auto command = ParseCommand(payload, id, cause);
    if (!command) return ReplyJson(id, false, cause);
    // Expiry first: an expired id may already be forgotten by the register.
    if (command->expires <= now)
        return ReplyJson(id, false, "expired at " + host::IsoTime(command->expires) + ", now " + host::IsoTime(now));
    try {
        if (!ids.Remember(command->id, command->expires, now))
            return ReplyJson(id, false, "the id was used before: the command is not applied again");
    } catch (const std::exception& e) {
        return ReplyJson(id, false, std::string("the id cannot be kept: ") + e.what());
    }
    try {
        if (command->type == Command::Type::Totals) {
            totals();
            return ReplyJson(id, true, "");
        }
        const bool now = prices.SetPrice(command->line, command->dispenser, command->nozzle, command->price);
        return ReplyJson(id, true, now ? "" : "held until the nozzle is idle");
    } catch (const std::exception& e) {
        return ReplyJson(id, false, e.what());
    }
}

}  // namespace zarvik::telemetry
