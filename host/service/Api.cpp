#include "service/Api.h"

#include <vector>

#include "service/ApiJson.h"
#include "service/LineJobs.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr std::string_view kPrefix = "/api/v1/";
constexpr std::size_t kMaxDigits = 10;

using RouteKind = Api::RouteKind;

std::vector<std::string_view> Segments(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string_view::npos ? path.npos : slash - start));
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

// The route's shape: literal segments, "#" for a number.
struct Shape {
    RouteKind kind;
    std::vector<std::string_view> segments;
};

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes{
        {RouteKind::Service, {"service"}},
        {RouteKind::Station, {"station"}},
        {RouteKind::Pumps, {"pumps"}},
        {RouteKind::Pump, {"pumps", "#", "#"}},
        {RouteKind::PumpTotals, {"pumps", "#", "#", "totals"}},
        {RouteKind::Totals, {"totals"}},
        {RouteKind::Lines, {"lines"}},
        {RouteKind::Line, {"lines", "#"}},
        {RouteKind::Tables, {"lines", "#", "dispensers", "#", "tables"}},
        {RouteKind::Parameter, {"lines", "#", "dispensers", "#", "parameters", "#"}},
        {RouteKind::OpenApi, {"openapi.json"}},
    };
    return shapes;
}

// A decimal number of at most 10 digits, nothing else; nullopt otherwise.
std::optional<std::int64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

struct Api::Route {
    RouteKind kind;
    std::vector<std::int64_t> numbers;  // the path's numbers in order
};

Api::Api(const host::StationFile& station, const StationState& state, LineReads& reads, ServiceInfo info, Clock now)
    : station_(station), state_(state), reads_(reads), info_(std::move(info)), now_(std::move(now)) {}

http::Response Api::Handle(const http::Request& request) const {
    if (request.role == http::Role::None) return http::ErrorResponse(401, "unauthorized", "a token is required");
    const std::string_view path = request.path;
    if (path.substr(0, kPrefix.size()) != kPrefix) return http::ErrorResponse(404, "not_found", "no such path");
    const std::vector<std::string_view> parts = Segments(path.substr(kPrefix.size()));
    if (auto control = Control(request, parts)) return std::move(*control);
    for (const Shape& shape : Shapes()) {
        if (shape.segments.size() != parts.size()) continue;
        Route route{shape.kind, {}};
        bool matches = true;
        bool malformed = false;
        for (std::size_t i = 0; i < parts.size() && matches; ++i) {
            if (shape.segments[i] != "#") {
                matches = shape.segments[i] == parts[i];
                continue;
            }
            const auto number = Number(parts[i]);
            malformed = malformed || !number;
            route.numbers.push_back(number.value_or(0));
        }
        if (!matches) continue;
        if (request.method != "GET") {
            auto r = http::ErrorResponse(405, "method_not_allowed", "only GET is allowed here");
            r.headers.emplace_back("Allow", "GET");
            return r;
        }
        if (malformed)
            return http::ErrorResponse(400, "bad_request",
                                       "line, dispenser, address and code are decimal numbers of at most 10 digits");
        if (!request.query.empty()) return http::ErrorResponse(400, "bad_request", "this path takes no query");
        return Dispatch(route);
    }
    return http::ErrorResponse(404, "not_found", "no such path");
}

http::Response Api::Dispatch(const Route& route) const {
    try {
        switch (route.kind) {
            case RouteKind::Service:
                return JsonResponse(
                    {{"version", info_.version},
                     {"startedAt", TimeText(info_.startedAt)},
                     {"uptimeSeconds",
                      std::chrono::duration_cast<std::chrono::seconds>(now_() - info_.startedAt).count()},
                     {"driver", info_.driver}});
            case RouteKind::Station:
                return JsonResponse(StationJson(station_));
            case RouteKind::Pumps:
                return Pumps();
            case RouteKind::Pump:
                return OnePump(route);
            case RouteKind::PumpTotals:
            case RouteKind::Totals:
                return Totals(route);
            case RouteKind::Lines:
            case RouteKind::Line:
                return Lines(route);
            case RouteKind::Tables:
                return Tables(route);
            case RouteKind::Parameter:
                return Parameter(route);
            case RouteKind::OpenApi:
                break;
        }
    } catch (const LineFailure& e) {
        return http::ErrorResponse(502, "line_failure", e.what());
    } catch (const JobTimeout& e) {
        return http::ErrorResponse(504, "line_timeout", e.what());
    }
    http::Response r;
    r.body = info_.openapi;
    return r;
}

}  // namespace zarvik::service
