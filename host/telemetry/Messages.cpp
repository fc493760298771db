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

json Time(const std::optional<WallTime>& at) { return at ? json(host::IsoTime(*at, true)) : json(nullptr); }
json Value(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

// Digits of TEXT at [at, at + count) as a number, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + count, value);
    return error == std::errc() && end == text.data() + at + count ? value : -1;
}

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

std::string TransactionJson(const journal::Sale& sale) {
    json preset = nullptr;
    if (sale.preset.kind == journal::PresetKind::Litres) preset = {{"litres", sale.preset.amount}};
    if (sale.preset.kind == journal::PresetKind::Money) preset = {{"money", sale.preset.amount}};
    const json document = {{"id", sale.id},
                           {"line", sale.where.line},
                           {"dispenser", sale.where.dispenser},
                           {"nozzle", sale.where.nozzle},
                           {"preset", preset},
                           {"price", sale.price},
                           {"authorisedHere", sale.authorisedHere},
                           {"totalBefore", Value(sale.totalBefore)},
                           {"totalAfter", Value(sale.totalAfter)},
                           {"litres", Value(sale.litres)},
                           {"money", Value(sale.money)},
                           {"state", journal::StateName(sale.state)},
                           {"cause", sale.cause},
                           {"startedAt", Time(sale.startedAt)},
                           {"updatedAt", Time(sale.updatedAt)},
                           {"endedAt", Time(sale.endedAt)},
                           {"acknowledgedAt", Time(sale.acknowledgedAt)}};
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<WallTime> ParseIsoTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS, then an optional fraction, then Z or ±HH:MM.
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = Digits(text, 0, 4) - 1900;
    tm.tm_mon = Digits(text, 5, 2) - 1;
    tm.tm_mday = Digits(text, 8, 2);
    tm.tm_hour = Digits(text, 11, 2);
    tm.tm_min = Digits(text, 14, 2);
    tm.tm_sec = Digits(text, 17, 2);
    if (tm.tm_year < 0 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour < 0 ||
        tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60)
        return std::nullopt;
    std::size_t at = 19;
    std::chrono::microseconds fraction{0};
    if (at < text.size() && text[at] == '.') {
        std::size_t digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
            if (digits < 6) fraction = fraction * 10 + std::chrono::microseconds(text[at] - '0');
        if (digits == 0) return std::nullopt;
        for (; digits < 6; ++digits) fraction *= 10;
    }
    int offsetMinutes = 0;
    if (at + 1 == text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
        const int hours = Digits(text, at + 1, 2);
        const int minutes = Digits(text, at + 4, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
        offsetMinutes = (hours * 60 + minutes) * (text[at] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const std::time_t utc = timegm(&tm);
    return std::chrono::system_clock::from_time_t(utc) - std::chrono::minutes(offsetMinutes) + fraction;
}

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
    const auto expiry = expires.is_string() ? ParseIsoTime(expires.get<std::string>()) : std::nullopt;
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
