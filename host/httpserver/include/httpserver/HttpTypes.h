// The station service's HTTP exchange as its handler sees it: a request that
// has passed the server's checks (size limits, a well-formed head, a known
// bearer token) and the response the handler gives back. Every error the
// server or a handler answers is a JSON body {"code": ..., "message": ...}.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarvik::http {

// What a bearer token may do. Control may do everything Read may.
enum class Role { None, Read, Control };

struct Request {
    std::string method;  // "GET", "POST", ...
    std::string path;    // percent-decoded, starts with '/', no NUL or control characters
    std::string query;   // after '?', as sent (not decoded); "" when none
    std::string body;    // at most the configured maxBodyBytes
    std::string remote;  // "127.0.0.1:53122", "[::1]:53122" or "unix"
    Role role = Role::None;
    std::string lastEventId;  // the Last-Event-ID header as sent; "" when none
};

// A body of unknown length sent as it comes (server-sent events). The server
// calls Next from the connection's thread again and again: it waits at most
// WAIT for something to send, appends it to OUT and returns true (OUT may stay
// empty when nothing came); false ends the body. When nothing was sent for
// keepAlive the server sends the comment line ": keep-alive" itself. The body
// also ends when the client goes or the server stops.
class Stream {
public:
    virtual ~Stream() = default;
    virtual bool Next(std::string& out, std::chrono::milliseconds wait) = 0;
};

struct Response {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    std::shared_ptr<Stream> stream;  // set: the body is this stream, `body` is not sent
};

// {"code": CODE, "message": MESSAGE} with STATUS; the texts are JSON-escaped.
Response ErrorResponse(int status, std::string_view code, std::string_view message);

// Called concurrently from the server's connection threads.
using Handler = std::function<Response(const Request&)>;
// The role a "?ticket=TICKET" query grants (None: refused); see
// HttpServer::AcceptTickets.
using TicketCheck = std::function<Role(std::string_view ticket)>;
// Priorities as syslog's (0 emergency .. 7 debug); the message is printable
// (anything from a request in it is escaped).
using Logger = std::function<void(int priority, std::string_view message)>;

// Percent-decodes RAW (a path, or a query's name or value: then '+' is a
// space) into OUT; false for a bad escape or a control character.
bool PercentDecode(std::string_view raw, std::string& out, bool plusIsSpace);

}  // namespace zarvik::http
