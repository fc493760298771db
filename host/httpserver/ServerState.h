// Private to the server: what its libmicrohttpd callbacks share, and the
// pieces of a request's head they check before the handler sees it.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "httpserver/HttpServer.h"

namespace zarvik::http {

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

    std::mutex startMutex;
    std::string lastLibraryMessage;  // the library's last complaint, for Start's error

    void Log(int priority, std::string_view message) const {
        if (logger) logger(priority, message);
    }
};

// One per connection (the socket context).
struct ConnectionContext {
    bool overCap = false;  // opened while maxConnections were already open
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

// Head checks (RequestHead.cpp).
// Percent-decodes a path; false for a bad escape, NUL, a control character or
// a path that does not start with '/'.
bool DecodePath(std::string_view raw, std::string& path);
// The token of "Bearer TOKEN"; false when the header is not of that form.
bool BearerToken(std::string_view authorization, std::string_view& token);
// The request line and headers' size as sent, near enough: names, values, separators.
std::size_t HeadBytes(MHD_Connection* connection, std::string_view method, std::string_view uri,
                      std::string_view version);
// "127.0.0.1:53122", "[::1]:53122", "unix".
std::string RemoteOf(MHD_Connection* connection);

}  // namespace zarvik::http
