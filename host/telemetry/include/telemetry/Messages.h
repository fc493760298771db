// The documents the station publishes and the commands it takes, as JSON text.
//
// Transaction (QoS 1 on <prefix>/transactions/<id>): {"id", "line",
// "dispenser", "nozzle", "preset": {"litres": x} | {"money": y} | null,
// "price", "authorisedHere", "totalBefore", "totalAfter", "litres", "money",
// "state", "cause", "startedAt", "updatedAt", "endedAt", "acknowledgedAt"}
// (missing values null; times ISO 8601 with microseconds).
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

#include "journal/Sale.h"

namespace zarvik::telemetry {

using WallTime = std::chrono::system_clock::time_point;

std::string TransactionJson(const journal::Sale& sale);

// "2026-12-09T10:00:00Z", "2026-12-09T13:00:00.5+03:00": the moment, or
// nullopt when TEXT is not such a time.
std::optional<WallTime> ParseIsoTime(std::string_view text);

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
