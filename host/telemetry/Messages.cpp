#include "telemetry/Messages.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "hostkit/IsoTime.h"

namespace zarvik::telemetry {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxCommandId = 128;
constexpr std::size_t kMaxCommandBytes = 4096;  // a command is a few keys: anything longer is not read
constexpr int kMaxNumber = 1000;                // line, dispenser
constexpr int kMaxNozzle = 6;
constexpr double kMaxPrice = 1e6;

// Refuses with CAUSE: the command stays unapplied.
std::optional<Command> Refuse(std::string& cause, std::string text) {
    cause = std::move(text);
    return std::nullopt;
}

bool IntegerIn(const json& value, int low, int high) {
    return value.is_number_integer() && value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high &&
           !(value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(high));
}

}  // namespace

std::optional<Command> ParseCommand(std::string_view payload, std::optional<std::string>& id, std::string& cause) {
    id.reset();
    if (payload.size() > kMaxCommandBytes)
        return Refuse(cause, "the command is longer than " + std::to_string(kMaxCommandBytes) + " bytes");
    json message;
    try {
        message = json::parse(payload);
    } catch (const json::exception&) {
        return Refuse(cause, "the command is not JSON");
    }
    if (!message.is_object()) return Refuse(cause, "the command is not a JSON object");
    const json& idValue = message.contains("id") ? message.at("id") : json(nullptr);
    if (!idValue.is_string() || idValue.get<std::string>().empty() || idValue.get<std::string>().size() > kMaxCommandId)
        return Refuse(cause, "\"id\" must be a text of 1 to 128 characters");
    Command command;
    command.id = idValue.get<std::string>();
    id = command.id;
    const json& type = message.contains("type") ? message.at("type") : json(nullptr);
    if (type == "set-price") {
        command.type = Command::Type::SetPrice;
    } else if (type == "totals") {
        command.type = Command::Type::Totals;
    } else {
        return Refuse(cause, "\"type\" must be \"set-price\" or \"totals\"");
    }
    const bool price = command.type == Command::Type::SetPrice;
    for (const auto& [key, value] : message.items()) {
        const bool known = key == "id" || key == "type" || key == "expires" ||
                           (price && (key == "line" || key == "dispenser" || key == "nozzle" || key == "price"));
        if (!known) return Refuse(cause, "unknown key \"" + key + "\"");
    }
    const json& expires = message.contains("expires") ? message.at("expires") : json(nullptr);
    const auto expiry = expires.is_string() ? host::ParseIsoTime(expires.get<std::string>()) : std::nullopt;
    if (!expiry) return Refuse(cause, "\"expires\" must be an ISO 8601 time with its offset");
    command.expires = *expiry;
    if (!price) return command;
    for (const char* key : {"line", "dispenser", "nozzle"}) {
        if (!message.contains(key) || !IntegerIn(message.at(key), 1, key[0] == 'n' ? kMaxNozzle : kMaxNumber))
            return Refuse(cause, "\"" + std::string(key) + "\" must be a whole number in range");
    }
    command.line = message.at("line").get<int>();
    command.dispenser = message.at("dispenser").get<int>();
    command.nozzle = message.at("nozzle").get<int>();
    const json& value = message.contains("price") ? message.at("price") : json(nullptr);
    if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() <= 0 ||
        value.get<double>() > kMaxPrice)
        return Refuse(cause, "\"price\" must be a number above 0");
    command.price = value.get<double>();
    return command;
}

std::string ReplyJson(const std::optional<std::string>& id, bool applied, const std::string& cause) {
    const json reply = {{"id", id ? json(*id) : json(nullptr)},
                        {"result", applied ? "applied" : "refused"},
                        {"cause", cause.empty() ? json(nullptr) : json(cause)}};
    return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace zarvik::telemetry
