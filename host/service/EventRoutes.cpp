#include "service/EventRoutes.h"

#include <charconv>

#include "service/ApiJson.h"
#include "service/PumpEvents.h"

namespace zarvik::service {
namespace {

// The bus's events after a number as server-sent events.
class EventStream final : public http::Stream {
public:
    EventStream(const EventBus& bus, std::uint64_t after, bool reset) : bus_(bus), after_(after), reset_(reset) {}

    bool Next(std::string& out, std::chrono::milliseconds wait) override {
        EventBus::Batch batch;
        if (!reset_) batch = bus_.After(after_, wait);
        if (reset_ || batch.reset) {
            after_ = reset_ ? bus_.Last() : batch.last;
            reset_ = false;
            Append(out, after_, ResetEventText(after_));
            return true;
        }
        for (const Event& e : batch.events) {
            Append(out, e.seq, e.data);
            after_ = e.seq;
        }
        return true;
    }

private:
    static void Append(std::string& out, std::uint64_t seq, std::string_view data) {
        out.append("id: ").append(std::to_string(seq)).append("\ndata: ").append(data).append("\n\n");
    }
    const EventBus& bus_;
    std::uint64_t after_;
    bool reset_;
};

http::Response MethodNotAllowed(const char* allowed) {
    auto r = http::ErrorResponse(405, "method_not_allowed", std::string("only ") + allowed + " is allowed here");
    r.headers.emplace_back("Allow", allowed);
    return r;
}

// Only "ticket=..." and "lastEventId=..." parameters (the server checked the
// ticket already); LAST_EVENT_ID gets the latter's value (digits only, so not
// decoded), "" when absent.
bool EventsQuery(std::string_view query, std::string& lastEventId) {
    constexpr std::string_view kResume = "lastEventId=";
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.substr(0, kResume.size()) == kResume)
            lastEventId = std::string(pair.substr(kResume.size()));
        else if (pair.substr(0, 7) != "ticket=")
            return false;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return true;
}

}  // namespace

std::optional<http::Response> EventRoutes::Handle(const http::Request& request) const {
    if (request.path == kEventsPath) return Events(request);
    if (request.path == kTicketsPath) return Ticket(request);
    return std::nullopt;
}

http::Response EventRoutes::Events(const http::Request& request) const {
    if (request.role == http::Role::None) return http::ErrorResponse(401, "unauthorized", "a token is required");
    if (request.method != "GET") return MethodNotAllowed("GET");
    std::string resume;
    if (!EventsQuery(request.query, resume))
        return http::ErrorResponse(400, "bad_request", "this path takes only ticket= and lastEventId=");
    std::uint64_t after = bus_.Last();
    bool reset = false;
    // The header when sent, else the query's (an EventSource opened anew cannot set the header).
    if (const std::string& id = request.lastEventId.empty() ? resume : request.lastEventId; !id.empty()) {
        const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), after);
        // An id we never gave: re-read everything.
        reset = error != std::errc() || end != id.data() + id.size();
    }
    http::Response response;
    response.contentType = "text/event-stream";
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.stream = std::make_shared<EventStream>(bus_, after, reset);
    return response;
}

http::Response EventRoutes::Ticket(const http::Request& request) const {
    if (request.role == http::Role::None) return http::ErrorResponse(401, "unauthorized", "a token is required");
    if (request.method != "POST") return MethodNotAllowed("POST");
    if (!request.query.empty()) return http::ErrorResponse(400, "bad_request", "this path takes no query");
    const auto issued = tickets_.Issue(request.role);
    if (!issued)
        return http::ErrorResponse(503, "too_many_tickets", "too many tickets are out; try again within a minute");
    return JsonResponse({{"ticket", issued->ticket}, {"expiresAt", TimeText(issued->expiresAt)}});
}

}  // namespace zarvik::service
