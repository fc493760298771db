// Private to the server: what its libmicrohttpd callbacks share, and the
// pieces of a request's head they check before the handler sees it.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "httpserver/HttpServer.h"

namespace zarvik::http {

struct ConnectionContext;

// One per connection (the socket context).
struct ConnectionContext {
    bool overCap = false;  // opened while maxConnections were already open
    int socket = -1;
    std::string remote;
    // By when the request being read must be whole: the library's timeout
    // only counts idle time, so a client trickling a byte a second would
    // hold its connection for ever. No deadline while the handler answers.
    std::chrono::steady_clock::time_point deadline;
    bool reading = true;
    bool dropped = false;
};

// Drops connections whose request is not whole by its deadline (shuts their
// socket down; the library then closes them). Guarded by its own mutex,
// which the close notification takes too, so a socket is never shut after
// the library has closed it.
class SlowClientWatch {
public:
    SlowClientWatch(std::chrono::seconds limit, const HttpServer::State& state) : limit_(limit), state_(state) {}
    ~SlowClientWatch() { Stop(); }
    void Start();
    void Stop();
    void Opened(ConnectionContext* connection);
    void Closed(ConnectionContext* connection);
    // A request is whole (the handler answers now), or done (the next one begins).
    void RequestIn(ConnectionContext* connection);
    void RequestDone(ConnectionContext* connection);

private:
    void Run();
    std::chrono::seconds limit_;
    const HttpServer::State& state_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::set<ConnectionContext*> open_;
    std::thread thread_;
};

struct HttpServer::State {
    ServerSettings settings;
    TokenFile tokens;
    Handler handler;
    Logger logger;

    std::atomic<int> connections{0};  // open on both listeners together
    MHD_Daemon* tcp = nullptr;
    MHD_Daemon* unix = nullptr;
    int port = 0;
    std::string certificatePem, keyPem;  // kept while the daemon runs
    std::string unixPath;                // the socket we created, removed on Stop
    std::unique_ptr<SlowClientWatch> watch;
    std::atomic<bool> stopping{false};  // ends the streams being sent
    std::string ticketPath;             // the one path that takes "?ticket="
    TicketCheck ticketCheck;
    std::function<bool(std::string_view)> isPublic;  // paths a GET/HEAD reaches without a token

    std::mutex startMutex;
    std::string lastLibraryMessage;  // the library's last complaint, for Start's error

    void Log(int priority, std::string_view message) const {
        if (logger) logger(priority, message);
    }
};

// One per request, made when its request line is read.
struct RequestContext {
    std::string uri;  // as sent: path and query
    std::string body;
    Request request;  // role, path and query once the head passed
    bool headChecked = false;
    bool bodyTooLarge = false;
    std::size_t discarded = 0;
};

// MHD's callbacks (RequestFlow.cpp).
MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method, const char* version,
                     const char* uploadData, size_t* uploadSize, void** requestContext);
void* OnRequestLine(void* cls, const char* uri, MHD_Connection* connection);
void OnRequestDone(void* cls, MHD_Connection* connection, void** requestContext, MHD_RequestTerminationCode code);
void OnConnection(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code);

// A response whose body is a stream (StreamBody.cpp); nullptr on failure.
MHD_Response* CreateStreamResponse(const HttpServer::State& state, MHD_Connection* connection,
                                   std::shared_ptr<Stream> stream);

// Head checks (RequestHead.cpp).
// Percent-decodes a path; false for a bad escape, NUL, a control character or
// a path that does not start with '/'.
bool DecodePath(std::string_view raw, std::string& path);
// The token of "Bearer TOKEN"; false when the header is not of that form.
bool BearerToken(std::string_view authorization, std::string_view& token);
// The request line and headers' size as sent, near enough: names, values, separators.
std::size_t HeadBytes(MHD_Connection* connection, std::string_view method, std::string_view uri,
                      std::string_view version);
// The value of KEY in a query "a=1&KEY=VALUE" (not decoded); false when absent.
bool QueryValue(std::string_view query, std::string_view key, std::string_view& value);
// "127.0.0.1:53122", "[::1]:53122", "unix".
std::string RemoteOf(MHD_Connection* connection);

}  // namespace zarvik::http
