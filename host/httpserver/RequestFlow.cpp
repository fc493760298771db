// The path of one request through the server: the checks made once its head
// is read (connection cap, head size, declared body size, token, path), the
// body counted as it arrives, then the handler.
#include <syslog.h>

#include <charconv>
#include <cstdint>
#include <exception>

#include "ServerState.h"
#include "hostkit/VisibleText.h"

namespace zarvik::http {
namespace {

// A refused body is read on and thrown away (so the answer reaches a client
// still sending) up to this much; beyond it the connection is closed.
constexpr std::size_t kDiscardLimit = 1 << 20;
// How much of a request's path a log line quotes.
constexpr std::size_t kLoggedPathBytes = 200;

ConnectionContext* SocketContext(MHD_Connection* connection) {
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<ConnectionContext*>(info->socket_context) : nullptr;
}

MHD_Result Send(const HttpServer::State& state, MHD_Connection* connection, const Response& response, bool close) {
    MHD_Response* reply =
        response.stream != nullptr
            ? CreateStreamResponse(state, connection, response.stream)
            : MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                              MHD_RESPMEM_MUST_COPY);
    if (reply == nullptr) return MHD_NO;
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    for (const auto& [name, value] : response.headers) MHD_add_response_header(reply, name.c_str(), value.c_str());
    if (close) MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), reply);
    MHD_destroy_response(reply);
    return queued;
}

// Answers an error the server found itself and logs it, the request's text escaped.
MHD_Result Refuse(const HttpServer::State& state, MHD_Connection* connection, const RequestContext& request,
                  std::string_view method, Response response, bool close) {
    std::string uri = request.uri.substr(0, kLoggedPathBytes);
    if (request.uri.size() > kLoggedPathBytes) uri += "...";
    state.Log(LOG_NOTICE, std::to_string(response.status) + " " + host::VisibleText(method) + " " +
                              host::VisibleText(uri) + " from " + RemoteOf(connection) + ": " + response.body);
    return Send(state, connection, response, close);
}

// (The library itself refuses a Content-Length that is not a number.)
std::size_t DeclaredLength(MHD_Connection* connection) {
    const char* text = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (text == nullptr) return 0;
    const std::string_view digits(text);
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    return error == std::errc::result_out_of_range ? SIZE_MAX : length;
}

// "?ticket=" on the one path that takes it, for a request without the header.
Role TicketRole(const HttpServer::State& state, std::string_view uri, std::string& problem) {
    const auto mark = uri.find('?');
    std::string_view ticket;
    if (!state.ticketCheck || mark == std::string_view::npos || uri.substr(0, mark) != state.ticketPath ||
        !QueryValue(uri.substr(mark + 1), "ticket", ticket)) {
        problem = "no \"Authorization: Bearer TOKEN\" header";
        return Role::None;
    }
    const Role role = state.ticketCheck(ticket);
    if (role == Role::None) problem = "the ticket is not known, used or expired";
    return role;
}

Role Authenticate(const HttpServer::State& state, MHD_Connection* connection, std::string_view uri,
                  std::string& problem) {
    const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    std::string_view token;
    if (header == nullptr) return TicketRole(state, uri, problem);
    if (!BearerToken(header, token)) {
        problem = "the Authorization header is not \"Bearer TOKEN\"";
        return Role::None;
    }
    const Role role = state.tokens.Check(token);
    if (role == Role::None) problem = "the token is not known";
    return role;
}

MHD_Result Unauthorized(const HttpServer::State& state, MHD_Connection* connection, const RequestContext& request,
                        std::string_view method, const std::string& problem) {
    Response response = ErrorResponse(401, "unauthorized", problem);
    response.headers.emplace_back(MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
    return Refuse(state, connection, request, method, std::move(response), false);
}

// The checks once the head is read: connection cap, head size, declared body
// size, token, path. MHD_YES without a response lets the body come.
MHD_Result CheckHead(const HttpServer::State& state, MHD_Connection* connection, RequestContext& context,
                     const char* method, const char* version) {
    const Limits& limits = state.settings.limits;
    const ConnectionContext* socket = SocketContext(connection);
    if (socket != nullptr && socket->overCap)
        return Refuse(state, connection, context, method,
                      ErrorResponse(503, "too_many_connections",
                                    "the service already serves " + std::to_string(limits.maxConnections) +
                                        " connections; try again later"),
                      true);
    if (HeadBytes(connection, method, context.uri, version) > limits.maxHeaderBytes)
        return Refuse(
            state, connection, context, method,
            ErrorResponse(431, "headers_too_large",
                          "the request line and headers exceed " + std::to_string(limits.maxHeaderBytes) + " bytes"),
            true);
    if (DeclaredLength(connection) > limits.maxBodyBytes)
        return Refuse(state, connection, context, method,
                      ErrorResponse(413, "payload_too_large",
                                    "the body exceeds " + std::to_string(limits.maxBodyBytes) + " bytes"),
                      true);
    if (std::string_view(version) == MHD_HTTP_VERSION_1_1 &&
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST) == nullptr)
        return Refuse(state, connection, context, method,
                      ErrorResponse(400, "bad_request", "an HTTP/1.1 request without a Host header"), true);
    const std::string_view uri = context.uri;
    const auto mark = uri.find('?');
    const bool decoded = DecodePath(uri.substr(0, mark), context.request.path);
    const std::string_view verb(method);
    const bool open = decoded && state.isPublic && (verb == MHD_HTTP_METHOD_GET || verb == MHD_HTTP_METHOD_HEAD) &&
                      state.isPublic(context.request.path);
    std::string problem;
    context.request.role = open ? Role::None : Authenticate(state, connection, context.uri, problem);
    if (!open && context.request.role == Role::None) return Unauthorized(state, connection, context, method, problem);
    if (!decoded)
        return Refuse(state, connection, context, method,
                      ErrorResponse(400, "bad_request",
                                    "the request target is not a path that decodes (it starts with '/' and has no "
                                    "bad %-escape, NUL or control character)"),
                      false);
    if (mark != std::string_view::npos) context.request.query = std::string(uri.substr(mark + 1));
    return MHD_YES;
}

// The whole request is in: the handler answers it.
MHD_Result Serve(const HttpServer::State& state, MHD_Connection* connection, RequestContext& context,
                 const char* method) {
    if (context.bodyTooLarge)
        return Refuse(
            state, connection, context, method,
            ErrorResponse(413, "payload_too_large",
                          "the body exceeds " + std::to_string(state.settings.limits.maxBodyBytes) + " bytes"),
            true);
    if (ConnectionContext* socket = SocketContext(connection)) state.watch->RequestIn(socket);
    Request& request = context.request;
    request.method = method;
    request.body = std::move(context.body);
    request.remote = RemoteOf(connection);
    const char* lastEventId = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Last-Event-ID");
    if (lastEventId != nullptr) request.lastEventId = lastEventId;
    Response response;
    try {
        response = state.handler(request);
    } catch (const std::exception& e) {
        state.Log(LOG_ERR, "the handler failed on " + host::VisibleText(method) + " " +
                               host::VisibleText(request.path.substr(0, kLoggedPathBytes)) + ": " +
                               host::VisibleText(e.what()));
        response = ErrorResponse(500, "internal_error", "the service failed to answer; see its log");
    }
    return Send(state, connection, response, false);
}

}  // namespace

void* OnRequestLine(void*, const char* uri, MHD_Connection*) {
    auto* request = new RequestContext;
    request->uri = uri != nullptr ? uri : "";
    return request;
}

void OnRequestDone(void* cls, MHD_Connection* connection, void** requestContext, MHD_RequestTerminationCode) {
    delete static_cast<RequestContext*>(*requestContext);
    *requestContext = nullptr;
    if (ConnectionContext* socket = SocketContext(connection))
        static_cast<HttpServer::State*>(cls)->watch->RequestDone(socket);
}

void OnConnection(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code) {
    auto* state = static_cast<HttpServer::State*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const int open = state->connections.fetch_add(1) + 1;
        auto* context = new ConnectionContext;
        context->overCap = open > state->settings.limits.maxConnections;
        const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        context->socket = info != nullptr ? info->connect_fd : -1;
        context->remote = RemoteOf(connection);
        state->watch->Opened(context);
        *socketContext = context;
    } else {
        auto* context = static_cast<ConnectionContext*>(*socketContext);
        state->connections.fetch_sub(1);
        if (context != nullptr) state->watch->Closed(context);
        delete context;
        *socketContext = nullptr;
    }
}

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char*, const char* method, const char* version,
                     const char* uploadData, size_t* uploadSize, void** requestContext) {
    const auto& state = *static_cast<const HttpServer::State*>(cls);
    auto* context = static_cast<RequestContext*>(*requestContext);
    if (context == nullptr) return MHD_NO;  // the request line callback always makes one
    if (!context->headChecked) {
        context->headChecked = true;
        return CheckHead(state, connection, *context, method, version);
    }
    if (*uploadSize != 0) {
        const std::size_t size = *uploadSize;
        *uploadSize = 0;
        if (!context->bodyTooLarge && context->body.size() + size <= state.settings.limits.maxBodyBytes) {
            context->body.append(uploadData, size);
            return MHD_YES;
        }
        context->bodyTooLarge = true;
        context->body.clear();
        context->discarded += size;
        return context->discarded <= kDiscardLimit ? MHD_YES : MHD_NO;
    }
    return Serve(state, connection, *context, method);
}

}  // namespace zarvik::http
