// The control routes of Api.h: authorise a sale, stop a pump, stop every
// pump. Bodies are parsed strictly: unknown keys, wrong types and numbers
// out of range are 400 bad_request and nothing is sent.
#include <algorithm>

#include "service/Api.h"
#include "service/ApiJson.h"
#include "service/LineJobs.h"

namespace zarvik::service {

namespace {

// The largest amounts the dispenser's fields carry: price in 3 bytes of
// hundredths, litres in 4 bytes of thousandths, money in 4 bytes of hundredths.
constexpr double kMaxPrice = 167772.15;
constexpr double kMaxLitres = 4294967.295;
constexpr double kMaxMoney = 42949672.95;
constexpr std::size_t kPathDigits = 10;

http::Response BadRequest(const std::string& message) { return http::ErrorResponse(400, "bad_request", message); }

std::optional<int> PathNumber(std::string_view text) {
    if (text.empty() || text.size() > kPathDigits) return std::nullopt;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value <= 32 ? std::optional<int>(static_cast<int>(value)) : std::optional<int>(0);
}

// The body as an object with no key but `allowed`; an empty body is {}.
// nullopt and the cause in `error` otherwise.
std::optional<json> BodyObject(const std::string& body, std::initializer_list<std::string_view> allowed,
                               std::string& error) {
    json parsed = body.empty() ? json::object() : json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "the body is not a JSON object";
        return std::nullopt;
    }
    for (const auto& [key, value] : parsed.items())
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            error = "unknown key \"" + key + "\"";
            return std::nullopt;
        }
    return parsed;
}

// A number above 0 and at most `max`; nullopt and the cause otherwise.
std::optional<double> Amount(const json& body, const char* key, double max, std::string& error) {
    const json& v = body[key];
    if (!v.is_number() || !(v.get<double>() > 0.0) || v.get<double>() > max) {
        error = std::string("\"") + key + "\" must be a number above 0 and at most " + json(max).dump();
        return std::nullopt;
    }
    return v.get<double>();
}

std::optional<int> Nozzle(const json& body, const host::StationDispenser& d, std::string& error) {
    const json& v = body["nozzle"];
    if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > d.nozzles) {
        error = "\"nozzle\" must be a whole number from 1 to " + std::to_string(d.nozzles);
        return std::nullopt;
    }
    return static_cast<int>(v.get<long long>());
}

}  // namespace

std::optional<http::Response> Api::Control(const http::Request& request,
                                           const std::vector<std::string_view>& parts) const {
    const bool emergency = parts.size() == 1 && parts[0] == "emergency-stop";
    const bool price = parts.size() == 6 && parts[0] == "pumps" && parts[3] == "nozzles" && parts[5] == "price";
    const bool pump =
        price || (parts.size() == 4 && parts[0] == "pumps" && (parts[3] == "authorise" || parts[3] == "stop"));
    if (!emergency && !pump) return std::nullopt;
    if (request.role != http::Role::Control)
        return http::ErrorResponse(403, "forbidden", "this call needs a control token");
    const char* method = price ? "PUT" : "POST";
    if (request.method != method) {
        auto r = http::ErrorResponse(405, "method_not_allowed", std::string("only ") + method + " is allowed here");
        r.headers.emplace_back("Allow", method);
        return r;
    }
    if (!request.query.empty()) return BadRequest("this path takes no query");
    if (control_ == nullptr) return http::ErrorResponse(503, "unavailable", "this service controls no pumps");
    try {
        if (emergency) return EmergencyStop(request.body);
        const auto line = PathNumber(parts[1]);
        const auto dispenser = PathNumber(parts[2]);
        if (!line || !dispenser) return BadRequest("line and dispenser are decimal numbers of at most 10 digits");
        const host::StationLine* l = station_.Find(*line);
        const host::StationDispenser* d = l != nullptr ? l->Find(*dispenser) : nullptr;
        if (d == nullptr)
            return http::ErrorResponse(404, "unknown_pump",
                                       "no dispenser " + std::string(parts[2]) + " on line " + std::string(parts[1]));
        if (price) return Price(*l, *d, parts[4], request.body);
        return parts[3] == "authorise" ? Authorise(*l, *d, request.body) : StopPump(*l, *d, request.body);
    } catch (const Refused& e) {
        return http::ErrorResponse(409, "refused", e.what());
    } catch (const LineFailure& e) {
        return http::ErrorResponse(502, "line_failure", e.what());
    } catch (const JobTimeout& e) {
        return http::ErrorResponse(504, "line_timeout", e.what());
    } catch (const JournalUnavailable& e) {
        return e.Full() ? http::ErrorResponse(507, "journal_full", e.what())
                        : http::ErrorResponse(503, "journal_failure", e.what());
    }
}

http::Response Api::Authorise(const host::StationLine& line, const host::StationDispenser& d,
                              const std::string& body) const {
    std::string error;
    const auto parsed = BodyObject(body, {"nozzle", "litres", "money", "price"}, error);
    if (!parsed) return BadRequest(error);
    if (parsed->contains("litres") == parsed->contains("money"))
        return BadRequest("give either \"litres\" or \"money\" as the preset");
    Authorisation sale{line.line, d.number};
    const auto nozzle = Nozzle(*parsed, d, error);
    if (!nozzle) return BadRequest(error);
    sale.nozzle = *nozzle;
    sale.kind = parsed->contains("litres") ? PresetKind::Litres : PresetKind::Money;
    const auto amount = sale.kind == PresetKind::Litres ? Amount(*parsed, "litres", kMaxLitres, error)
                                                        : Amount(*parsed, "money", kMaxMoney, error);
    if (!amount) return BadRequest(error);
    sale.amount = *amount;
    const auto price = parsed->contains("price") ? Amount(*parsed, "price", kMaxPrice, error) : std::nullopt;
    if (!price) return BadRequest(parsed->contains("price") ? error : "\"price\" is required");
    sale.price = *price;
    return JsonResponse(control_->Authorise(sale));
}

http::Response Api::StopPump(const host::StationLine& line, const host::StationDispenser& d,
                             const std::string& body) const {
    std::string error;
    const auto parsed = BodyObject(body, {"nozzle"}, error);
    if (!parsed) return BadRequest(error);
    std::optional<int> nozzle;
    if (parsed->contains("nozzle")) {
        nozzle = Nozzle(*parsed, d, error);
        if (!nozzle) return BadRequest(error);
    }
    const json out = control_->Stop(line.line, d.number, nozzle);
    // One nozzle asked for and not stopped: the stop failed as a whole.
    if (nozzle && !out["complete"].get<bool>()) {
        const json& s = out["stopped"][0];
        const std::string cause = s.value("cause", std::string("not stopped"));
        if (s["result"] == "refused") return http::ErrorResponse(409, "refused", cause);
        return http::ErrorResponse(502, "line_failure", cause);
    }
    return JsonResponse(out);
}

http::Response Api::Price(const host::StationLine& line, const host::StationDispenser& d, std::string_view nozzle,
                          const std::string& body) const {
    const auto number = PathNumber(nozzle);
    if (!number) return BadRequest("a nozzle is a decimal number of at most 10 digits");
    if (*number < 1 || *number > d.nozzles)
        return http::ErrorResponse(404, "unknown_pump",
                                   "no nozzle " + std::string(nozzle) + " on dispenser " + std::to_string(d.number));
    std::string error;
    const auto parsed = BodyObject(body, {"price"}, error);
    if (!parsed) return BadRequest(error);
    const auto price = parsed->contains("price") ? Amount(*parsed, "price", kMaxPrice, error) : std::nullopt;
    if (!price) return BadRequest(parsed->contains("price") ? error : "\"price\" is required");
    const json out = control_->SetPrice(line.line, d.number, *number, *price);
    auto r = JsonResponse(out);
    if (out["pending"].get<bool>()) r.status = 202;  // held until the nozzle is idle
    return r;
}

http::Response Api::EmergencyStop(const std::string& body) const {
    std::string error;
    if (!BodyObject(body, {}, error)) return BadRequest(error);
    return JsonResponse(control_->EmergencyStop());
}

}  // namespace zarvik::service
