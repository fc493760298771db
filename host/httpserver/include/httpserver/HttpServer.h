// The station service's HTTP/1.1 server (libmicrohttpd, a thread per
// connection). It listens on the configured TCP address (TLS with the
// configured certificate and key when given) and/or a Unix socket it creates
// (mode 0660), and answers by itself, with a JSON error body:
//   401 unauthorized          no, garbled or unknown "Authorization: Bearer" token
//   413 payload_too_large     a body over maxBodyBytes
//   431 headers_too_large     request line and headers over maxHeaderBytes
//   503 too_many_connections  a connection beyond maxConnections (then closed)
//   400 bad_request           a target that is no path or does not decode (bad
//                             %xx, NUL, controls); HTTP/1.1 without Host
// and drops a connection idle for clientTimeoutSeconds. Everything else goes
// to the handler with the token's role. A response with a stream is sent as
// it comes (chunked) until the stream ends, the client goes or Stop; a
// comment line keeps it alive when idle for half clientTimeoutSeconds. What libmicrohttpd cannot parse at
// all it answers itself with its own short HTML and closes: a header line
// without a colon, broken chunks, a Content-Length that is no number (400),
// an unknown HTTP version (505), a head over twice maxHeaderBytes + 32 KiB
// (431); a request line without a version gets no answer at all.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "httpserver/HttpTypes.h"
#include "httpserver/ServerSettings.h"
#include "httpserver/TokenFile.h"

namespace zarvik::http {

class HttpServer {
public:
    HttpServer(ServerSettings settings, TokenFile tokens, Handler handler, Logger logger);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Opens the listeners and starts serving. Throws zarvik::host::HostError
    // (configuration) with the cause: address in use, a certificate or key
    // that cannot be read or used, a path that is not a socket, ...
    void Start();
    // Before Start: a request for exactly PATH (as sent, before any '?') that
    // has no Authorization header may carry "?ticket=TICKET" instead; CHECK
    // gives its role (None: 401 unauthorized). No other path takes a ticket.
    void AcceptTickets(std::string path, TicketCheck check);
    // Before Start: a GET or HEAD whose decoded path IS_PUBLIC accepts needs
    // no token (the page's static files); the handler gets it with Role::None
    // and must answer nothing else to it. Other methods still need one.
    void ServePublic(std::function<bool(std::string_view path)> isPublic);
    // Stops serving (ends open streams), waits for the connection threads and
    // removes the Unix socket. Idempotent; the destructor calls it.
    void Stop();
    // The bound TCP port (the one chosen for port 0); 0 without a TCP listener.
    int Port() const;

    struct State;  // shared with the request callbacks

private:
    std::unique_ptr<State> state_;
};

}  // namespace zarvik::http
