// The documents the station publishes and the commands it takes, as JSON text.
//
// Command (on <prefix>/commands): {"id": text, "expires": ISO 8601 time,
// "type": "set-price", "line", "dispenser", "nozzle", "price"} or {"id",
// "expires", "type": "totals"}; any other key, a missing one, a wrong type
// or more than 4096 bytes refuses it. Reply (on <prefix>/replies): {"id": text | null, "result":
// "applied" | "refused", "cause": text | null}.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zarvik::telemetry {

using WallTime = std::chrono::system_clock::time_point;

struct Command {
    enum class Type { SetPrice, Totals };
    std::string id;
    WallTime expires;
    Type type = Type::Totals;
    int line = 0;
    int dispenser = 0;
    int nozzle = 0;
    double price = 0.0;
};

// The command of PAYLOAD, or the cause it is refused with. ID gets the
// command's id whenever it has a usable one (so the refusal can name it).
std::optional<Command> ParseCommand(std::string_view payload, std::optional<std::string>& id, std::string& cause);

std::string ReplyJson(const std::optional<std::string>& id, bool applied, const std::string& cause);

}  // namespace zarvik::telemetry
