#include "httpserver/HttpServer.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Listeners.h"
#include "ServerState.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"

namespace zarvik::http {
namespace {

// Beyond maxConnections a connection is still taken and answered 503; only
// past this many more does the library close new ones unanswered.
int HardConnectionCap(int maxConnections) { return maxConnections + maxConnections / 4 + 4; }

// The library's own pool per connection holds the head as read; it is kept
// well above maxHeaderBytes so our 431 answers before the library's.
std::size_t ConnectionMemory(const Limits& limits) { return 2 * limits.maxHeaderBytes + 32768; }

// GnuTLS's defaults without the protocol versions older than TLS 1.2.
constexpr const char* kTlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

void LibraryLog(void* cls, const char* format, va_list arguments) {
    auto* state = static_cast<HttpServer::State*>(cls);
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string_view trimmed(text);
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ' ')) trimmed.remove_suffix(1);
    const std::string message = host::VisibleText(trimmed);
    {
        const std::lock_guard lock(state->startMutex);
        state->lastLibraryMessage = message;
    }
    state->Log(LOG_WARNING, "http: " + message);
}

std::string ReadPem(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad() || text.str().empty())
        throw host::ConfigError(std::string("cannot read the TLS ") + what + " " + host::VisibleText(path) + ": " +
                                (errno != 0 ? std::strerror(errno) : "empty"));
    return text.str();
}

MHD_Daemon* StartDaemon(HttpServer::State& state, int socket, bool tls) {
    const Limits& limits = state.settings.limits;
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
                     MHD_USE_ERROR_LOG | MHD_USE_ITC;
    if (tls) flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> options = {
        // (First, so that the library's complaints about the others come here too.)
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&LibraryLog), &state},
        {MHD_OPTION_LISTEN_SOCKET, socket, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, HardConnectionCap(limits.maxConnections), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, limits.clientTimeoutSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(ConnectionMemory(limits)), nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&OnRequestLine), &state},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnRequestDone), &state},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), &state},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, state.certificatePem.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, state.keyPem.data()});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    return MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, &state, MHD_OPTION_ARRAY, options.data(),
                            MHD_OPTION_END);
}

MHD_Daemon* StartOrThrow(HttpServer::State& state, int socket, bool tls, const std::string& where) {
    {
        const std::lock_guard lock(state.startMutex);
        state.lastLibraryMessage.clear();
    }
    MHD_Daemon* daemon = StartDaemon(state, socket, tls);
    if (daemon != nullptr) return daemon;
    ::close(socket);
    const std::lock_guard lock(state.startMutex);
    throw host::ConfigError(
        "cannot serve on " + host::VisibleText(where) + ": " +
        (state.lastLibraryMessage.empty() ? "the HTTP library refused to start" : state.lastLibraryMessage));
}

}  // namespace

HttpServer::HttpServer(ServerSettings settings, TokenFile tokens, Handler handler, Logger logger)
    : state_(std::make_unique<State>()) {
    state_->settings = std::move(settings);
    state_->tokens = std::move(tokens);
    state_->handler = std::move(handler);
    state_->logger = std::move(logger);
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::AcceptTickets(std::string path, TicketCheck check) {
    state_->ticketPath = std::move(path);
    state_->ticketCheck = std::move(check);
}

void HttpServer::ServePublic(std::function<bool(std::string_view path)> isPublic) {
    state_->isPublic = std::move(isPublic);
}

void HttpServer::Start() {
    State& state = *state_;
    if (state.tcp != nullptr || state.unix != nullptr) return;
    state.stopping = false;
    const bool tls = !state.settings.certificate.empty();
    if (tls) {
        state.certificatePem = ReadPem(state.settings.certificate, "certificate");
        state.keyPem = ReadPem(state.settings.key, "key");
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            throw host::ConfigError("cannot serve TLS: the HTTP library was built without it");
    }
    state.watch =
        std::make_unique<SlowClientWatch>(std::chrono::seconds(state.settings.limits.clientTimeoutSeconds), state);
    state.watch->Start();
    try {
        if (!state.settings.listen.empty()) {
            const int socket = ListenTcp(state.settings.listen);
            state.port = BoundPort(socket);
            state.tcp = StartOrThrow(state, socket, tls, state.settings.listen);
        }
        if (!state.settings.unixSocket.empty()) {
            const int socket = ListenUnix(state.settings.unixSocket);
            state.unixPath = state.settings.unixSocket;
            state.unix = StartOrThrow(state, socket, false, "unix:" + state.settings.unixSocket);
        }
    } catch (...) {
        Stop();
        throw;
    }
}

void HttpServer::Stop() {
    State& state = *state_;
    state.stopping = true;  // the streams end within their next short wait
    // (The library closes the listening sockets it was given.)
    if (state.tcp != nullptr) MHD_stop_daemon(state.tcp);
    if (state.unix != nullptr) MHD_stop_daemon(state.unix);
    state.tcp = nullptr;
    state.unix = nullptr;
    state.watch.reset();  // after the daemons: their close notifications use it
    if (!state.unixPath.empty()) RemoveUnixSocket(state.unixPath);
    state.unixPath.clear();
}

int HttpServer::Port() const { return state_->tcp != nullptr ? state_->port : 0; }

}  // namespace zarvik::http
