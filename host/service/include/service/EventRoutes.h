// The event routes (apps/zarvikd/openapi.json describes them):
//   GET  /api/v1/events   server-sent events: "id: SEQ" and "data: EVENT" lines
//                         from the bus, after the Last-Event-ID header's number
//                         (or "?lastEventId=", for a browser's new EventSource)
//                         when given (a reset event when those are gone), else
//                         from now on; a bearer token or "?ticket=" (the one
//                         path the server takes a ticket on)
//   POST /api/v1/tickets  {"ticket", "expiresAt"}: a ticket for the caller's role
// Errors as the API's: 405 method_not_allowed, 400 bad_request (a query other
// than ticket= and lastEventId=), 503 too_many_tickets.
#pragma once

#include <optional>
#include <string_view>

#include "httpserver/HttpTypes.h"
#include "service/EventBus.h"
#include "service/Tickets.h"

namespace zarvik::service {

inline constexpr std::string_view kEventsPath = "/api/v1/events";
inline constexpr std::string_view kTicketsPath = "/api/v1/tickets";

class EventRoutes {
public:
    // BUS and TICKETS outlive the routes and every stream they opened.
    EventRoutes(EventBus& bus, Tickets& tickets) : bus_(bus), tickets_(tickets) {}

    // The answer for the two paths above; nullopt for any other path.
    std::optional<http::Response> Handle(const http::Request& request) const;

private:
    http::Response Events(const http::Request& request) const;
    http::Response Ticket(const http::Request& request) const;
    EventBus& bus_;
    Tickets& tickets_;
};

}  // namespace zarvik::service
