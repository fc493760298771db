#include "service/TransactionRoutes.h"

#include <charconv>
#include <map>

#include "hostkit/IsoTime.h"
#include "service/ApiJson.h"

namespace zarvik::service {
namespace {

using journal::Sale;

constexpr std::string_view kBase = "/api/v1/transactions";
constexpr int kMaxLimit = 1000;

class BadParameter : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Optional(JsonText& out, const char* key, const std::optional<double>& value) {
    out.Key(key);
    value ? out.Number(*value) : out.Null();
}

void OptionalTime(JsonText& out, TimeTexts& times, const char* key, const std::optional<journal::WallTime>& at) {
    out.Key(key);
    at ? out.String(times(*at)) : out.Null();
}

std::string Decoded(std::string_view text) {
    std::string out;
    if (!http::PercentDecode(text, out, true)) throw BadParameter("a bad %-escape or a control character in the query");
    return out;
}

// name → value; only the names in ALLOWED, each at most once.
std::map<std::string, std::string> Parameters(std::string_view query, std::initializer_list<std::string_view> allowed) {
    std::map<std::string, std::string> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        const std::string name = Decoded(pair.substr(0, eq));
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            throw BadParameter("unknown query parameter \"" + name + "\"");
        if (!out.emplace(name, eq == std::string_view::npos ? "" : Decoded(pair.substr(eq + 1))).second)
            throw BadParameter("query parameter \"" + name + "\" given twice");
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return out;
}

std::int64_t Whole(const std::string& name, const std::string& text, std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw BadParameter(name + " must be a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high));
    return value;
}

// "2026-12-09" (its local midnight), "2026-12-09T08:00:00" (local time), with
// ".fff" and "Z" or "+03:00" as may be.
journal::WallTime ParseTime(const std::string& name, const std::string& text) {
    constexpr std::size_t kDateOnly = 10;  // YYYY-MM-DD
    const auto at =
        host::ParseIsoTime(text.size() == kDateOnly ? text + "T00:00:00" : text, host::MissingZone::LocalTime);
    if (!at) throw BadParameter(name + " must be an ISO 8601 date or time, not \"" + text + "\"");
    return *at;
}

http::Response MethodNotAllowed(const char* allowed) {
    auto r = http::ErrorResponse(405, "method_not_allowed", std::string("only ") + allowed + " is allowed here");
    r.headers.emplace_back("Allow", allowed);
    return r;
}

}  // namespace

void WriteTransaction(JsonText& out, const Sale& sale) {
    TimeTexts times;
    out.Open().Key("id").Integer(sale.id).Key("line").Integer(sale.where.line);
    out.Key("dispenser").Integer(sale.where.dispenser).Key("nozzle").Integer(sale.where.nozzle).Key("preset");
    if (sale.preset.kind == journal::PresetKind::None)
        out.Null();
    else
        out.Open()
            .Key(sale.preset.kind == journal::PresetKind::Litres ? "litres" : "money")
            .Number(sale.preset.amount)
            .Close();
    out.Key("price").Number(sale.price).Key("authorisedHere").Bool(sale.authorisedHere);
    Optional(out, "totalBefore", sale.totalBefore);
    Optional(out, "totalAfter", sale.totalAfter);
    Optional(out, "litres", sale.litres);
    Optional(out, "money", sale.money);
    out.Key("state").String(journal::StateName(sale.state)).Key("cause").String(sale.cause);
    out.Key("startedAt").String(times(sale.startedAt)).Key("updatedAt").String(times(sale.updatedAt));
    OptionalTime(out, times, "endedAt", sale.endedAt);
    OptionalTime(out, times, "acknowledgedAt", sale.acknowledgedAt);
    out.Close();
}

std::string TransactionText(const Sale& sale) {
    JsonText out;
    WriteTransaction(out, sale);
    return out.Take();
}

std::string TransactionEventText(std::uint64_t seq, journal::WallTime at, const Sale& sale) {
    JsonText out;
    out.Open().Key("seq").Integer(static_cast<std::int64_t>(seq)).Key("type").String("transaction");
    out.Key("at").String(TimeText(at)).Key("transaction");
    WriteTransaction(out, sale);
    out.Close();
    return out.Take();
}

std::optional<http::Response> TransactionRoutes::Handle(const http::Request& request) const {
    std::string_view path = request.path;
    if (path.substr(0, kBase.size()) != kBase) return std::nullopt;
    path.remove_prefix(kBase.size());
    if (!path.empty() && path[0] != '/') return std::nullopt;
    if (request.role == http::Role::None) return http::ErrorResponse(401, "unauthorized", "a token is required");
    try {
        if (path.empty() || path == "/") return List(request);
        path.remove_prefix(1);
        if (path == "totals") return Totals(request);
        const std::size_t slash = path.find('/');
        if (slash == std::string_view::npos) return One(request, path, false);
        if (path.substr(slash) == "/acknowledge") return One(request, path.substr(0, slash), true);
        return http::ErrorResponse(404, "not_found", "no route " + request.path);
    } catch (const BadParameter& e) {
        return http::ErrorResponse(400, "bad_request", e.what());
    } catch (const journal::JournalError& e) {
        return http::ErrorResponse(503, "journal_failure", e.what());
    }
}

http::Response TransactionRoutes::List(const http::Request& request) const {
    if (request.method != "GET") return MethodNotAllowed("GET");
    const auto p = Parameters(request.query, {"state", "from", "to", "line", "dispenser", "acknowledged", "limit"});
    journal::SaleFilter filter;
    filter.limit = kMaxLimit;
    for (const auto& [name, value] : p) {
        if (name == "state") {
            filter.state = journal::StateFromName(value);
            if (!filter.state) throw BadParameter("state \"" + value + "\" is not a sale's state");
        } else if (name == "from" || name == "to") {
            (name == "from" ? filter.from : filter.to) = ParseTime(name, value);
        } else if (name == "line" || name == "dispenser") {
            (name == "line" ? filter.line : filter.dispenser) = static_cast<int>(Whole(name, value, 1, 255));
        } else if (name == "acknowledged") {
            if (value != "true" && value != "false") throw BadParameter("acknowledged must be true or false");
            filter.acknowledged = value == "true";
        } else {
            filter.limit = static_cast<int>(Whole(name, value, 1, kMaxLimit));
        }
    }
    JsonText out;
    out.Open().Key("transactions").OpenArray();
    for (const Sale& sale : journal_.List(filter)) WriteTransaction(out, sale);
    out.CloseArray().Close();
    return TextResponse(out.Take());
}

http::Response TransactionRoutes::Totals(const http::Request& request) const {
    if (request.method != "GET") return MethodNotAllowed("GET");
    const auto p = Parameters(request.query, {"from", "to"});
    if (p.count("from") == 0 || p.count("to") == 0) throw BadParameter("give the period as from= and to=");
    const journal::WallTime from = ParseTime("from", p.at("from"));
    const journal::WallTime to = ParseTime("to", p.at("to"));
    if (to < from) throw BadParameter("the period ends before it starts");
    JsonText out;
    TimeTexts times;
    out.Open().Key("from").String(times(from)).Key("to").String(times(to)).Key("nozzles").OpenArray();
    for (const journal::NozzleTotal& t : journal_.Totals(from, to)) {
        out.Open().Key("line").Integer(t.where.line).Key("dispenser").Integer(t.where.dispenser);
        out.Key("nozzle").Integer(t.where.nozzle).Key("sales").Integer(t.sales);
        out.Key("litres").Number(t.litres).Key("money").Number(t.money).Close();
    }
    out.CloseArray().Close();
    return TextResponse(out.Take());
}

http::Response TransactionRoutes::One(const http::Request& request, std::string_view idText, bool acknowledge) const {
    journal::SaleId id = 0;
    const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (error != std::errc() || end != idText.data() + idText.size() || id < 1)
        return http::ErrorResponse(400, "bad_request", "a transaction's id is a whole number above 0");
    if (!request.query.empty()) return http::ErrorResponse(400, "bad_request", "this path takes no query");
    const std::string unknown = "no transaction " + std::to_string(id);
    if (!acknowledge) {
        if (request.method != "GET") return MethodNotAllowed("GET");
        const auto sale = journal_.Fetch(id);
        if (!sale) return http::ErrorResponse(404, "unknown_transaction", unknown);
        JsonText out;
        WriteTransaction(out, *sale);
        return TextResponse(out.Take());
    }
    if (request.method != "POST") return MethodNotAllowed("POST");
    if (request.role != http::Role::Control)
        return http::ErrorResponse(403, "forbidden", "acknowledging a sale needs a control token");
    const journal::AckResult result = journal_.Acknowledge(id, std::chrono::system_clock::now());
    switch (result) {
        case journal::AckResult::NotFound:
            return http::ErrorResponse(404, "unknown_transaction", unknown);
        case journal::AckResult::NotEnded:
            return http::ErrorResponse(409, "not_ended", "transaction " + std::to_string(id) + " is still open");
        case journal::AckResult::Done:
        case journal::AckResult::Already:
            break;
    }
    if (result == journal::AckResult::Done && changed_)
        if (const auto sale = journal_.Fetch(id)) changed_(*sale);
    JsonText out;
    out.Open().Key("id").Integer(id).Key("acknowledged").Bool(true);
    out.Key("already").Bool(result == journal::AckResult::Already).Close();
    return TextResponse(out.Take());
}

}  // namespace zarvik::service
