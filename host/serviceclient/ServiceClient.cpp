#include "serviceclient/ServiceClient.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "hostkit/VisibleText.h"

namespace zarvik::serviceclient {

using host::HostError;

namespace {

constexpr std::string_view kHttp = "http://", kHttps = "https://", kUnix = "unix:";

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Body {
    std::string text;
    bool tooLong = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const std::size_t n = size * count;
    if (body->text.size() + n > ServiceClient::kMaxBodyBytes) {
        body->tooLong = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    body->text.append(data, n);
    return n;
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// The exit code of a transfer that got no HTTP reply.
host::ExitCode TransferCode(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_WRITE_ERROR:
        case CURLE_WEIRD_SERVER_REPLY:
            return host::kExitExchangeFailed;
        default:  // cannot connect, resolve, TLS, certificate, URL
            return host::kExitConfig;
    }
}

// "404 unknown_pump: no pump 3 on line 1", or the status alone when the body
// is not the service's error document.
std::string StatusText(long status, const std::string& body) {
    std::string text = std::to_string(status);
    const nlohmann::json error = nlohmann::json::parse(body, nullptr, false);
    if (error.is_object() && error.contains("code") && error["code"].is_string()) {
        text += ' ' + host::VisibleText(error["code"].get<std::string>());
        if (error.contains("message") && error["message"].is_string())
            text += ": " + host::VisibleText(error["message"].get<std::string>());
    } else {
        text += " (the body is not the service's JSON error)";
    }
    return text;
}

host::ExitCode StatusCode(long status) {
    if (status == 401 || status == 403) return host::kExitConfig;
    if (status == 404) return host::kExitUsage;
    return host::kExitExchangeFailed;
}

}  // namespace

ServiceClient::ServiceClient(ClientSettings settings) : settings_(std::move(settings)) {
    const std::string& url = settings_.url;
    if (url.starts_with(kUnix)) {
        unixSocket_ = url.substr(kUnix.size());
        if (unixSocket_.empty()) throw host::ConfigError("--service unix:PATH: no socket path");
        base_ = "http://localhost";
    } else if (url.starts_with(kHttp) || url.starts_with(kHttps)) {
        base_ = url;
        while (base_.ends_with('/')) base_.pop_back();
        const std::size_t hostAt = url.find("://") + 3;
        if (base_.size() <= hostAt) throw host::ConfigError("--service " + host::VisibleText(url) + ": no host");
        if (base_.find_first_of("/?#@", hostAt) != std::string::npos)
            throw host::ConfigError("--service " + host::VisibleText(url) +
                                    ": give only the scheme, host and port (http://127.0.0.1:8710)");
    } else {
        throw host::ConfigError("--service " + host::VisibleText(url) +
                                ": the URL is http://HOST:PORT, https://HOST:PORT or unix:PATH");
    }
    GlobalInit();
}

nlohmann::json ServiceClient::Get(std::string_view path) const {
    const std::string route(path);
    Easy easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy) throw HostError(host::kExitConfig, "service: libcurl could not start a transfer");
    CURL* c = easy.get();
    const std::string url = base_ + route;
    const std::string authorization = "Authorization: Bearer " + settings_.token;
    Headers headers(curl_slist_append(nullptr, authorization.c_str()), &curl_slist_free_all);
    headers.reset(curl_slist_append(headers.release(), "Accept: application/json"));
    char error[CURL_ERROR_SIZE] = {};
    Body body;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeout.count()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.timeout.count()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    if (!unixSocket_.empty()) curl_easy_setopt(c, CURLOPT_UNIX_SOCKET_PATH, unixSocket_.c_str());
    if (!settings_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, settings_.caFile.c_str());

    const std::string what = "service " + host::VisibleText(settings_.url) + ", GET " + host::VisibleText(route);
    if (const CURLcode code = curl_easy_perform(c); code != CURLE_OK) {
        if (body.tooLong)
            throw HostError(host::kExitExchangeFailed,
                            what + ": the reply is longer than " + std::to_string(kMaxBodyBytes) + " bytes");
        std::string cause = error[0] != '\0' ? error : curl_easy_strerror(code);
        long osError = 0;
        curl_easy_getinfo(c, CURLINFO_OS_ERRNO, &osError);
        if (osError != 0) cause += std::string(" (") + std::strerror(static_cast<int>(osError)) + ")";
        throw HostError(TransferCode(code), what + ": " + host::VisibleText(cause));
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) throw HostError(StatusCode(status), what + ": " + StatusText(status, body.text));
    nlohmann::json doc = nlohmann::json::parse(body.text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        throw HostError(host::kExitExchangeFailed, what + ": the reply is not a JSON object");
    return doc;
}

}  // namespace zarvik::serviceclient
