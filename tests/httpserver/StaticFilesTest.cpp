// The page's static files: which paths name which file (traversal refused
// however encoded), served to GET/HEAD without a token with the page's
// headers, while everything else still needs one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestServer.h"
#include "httpserver/StaticFiles.h"

namespace zarvik::http::test {
namespace {

TEST(StaticFiles, PathsNameTheirFileOrNone) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "index.html"},  {"/ui/app.js", "app.js"}, {"/ui/i18n/ru.js", "i18n/ru.js"},
        {"/ui/", ""},         {"/ui/../tokens", ""},    {"/ui/a/../../tokens", ""},
        {"/ui/./app.js", ""}, {"/ui/.hidden", ""},      {"/ui//app.js", ""},
        {"/ui/a\\..\\b", ""}, {"/ui/app.js/", ""},      {"/ui/app js", ""},
        {"/index.html", ""},  {"/api/v1/pumps", ""},    {"/uix/app.js", ""},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(StaticFileName(path), name) << path;
    EXPECT_EQ(StaticContentType("a.js"), "text/javascript; charset=utf-8");
    EXPECT_EQ(StaticContentType("index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(StaticContentType("style.css"), "text/css; charset=utf-8");
    EXPECT_EQ(StaticContentType("tokens"), "");
    EXPECT_EQ(StaticContentType("station.db"), "");
}

struct FileCase {
    const char* name;
    std::string request;
    int status;
    std::string contentType;  // "" when not checked
};

TEST(StaticFiles, ServedWithoutTokenOnlyForGetAndHeadOfTheirPaths) {
    ScratchDir dir;
    WriteTokenFile(dir.path / "tokens", 0600);
    std::filesystem::create_directory(dir.path / "ui");
    std::ofstream(dir.path / "ui/index.html") << "<!doctype html><title>АЗС</title>";
    std::ofstream(dir.path / "ui/app.js") << "export {};";
    std::ofstream(dir.path / "secret.txt") << "secret";
    std::filesystem::create_symlink(dir.path / "secret.txt", dir.path / "ui/link.txt");
    ServerSettings settings;
    settings.listen = "127.0.0.1:0";
    settings.tokens = (dir.path / "tokens").string();
    const StaticFiles files((dir.path / "ui").string());
    HttpServer server(
        settings, TokenFile::Read(settings.tokens),
        [&files](const Request& request) {
            if (auto response = files.Handle(request)) return *response;
            return ErrorResponse(request.role == Role::None ? 401 : 200, "api", "the API's answer");
        },
        [](int, std::string_view) {});
    server.ServePublic(StaticFiles::Serves);
    server.Start();
    const std::string auth = std::string("Authorization: Bearer ") + kReadToken + "\r\n";
    auto request = [](const char* method, const std::string& target, const std::string& headers = "") {
        return std::string(method) + " " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + headers +
               "\r\n";
    };
    const FileCase cases[] = {
        {"index", request("GET", "/"), 200, "text/html; charset=utf-8"},
        {"script", request("GET", "/ui/app.js"), 200, "text/javascript; charset=utf-8"},
        {"head", request("HEAD", "/ui/app.js"), 200, "text/javascript; charset=utf-8"},
        {"encoded dot-dot", request("GET", "/ui/%2e%2e/secret.txt"), 404, ""},
        {"encoded slash", request("GET", "/ui/..%2fsecret.txt"), 404, ""},
        {"raw dot-dot", request("GET", "/ui/../secret.txt"), 404, ""},
        {"link out of the folder", request("GET", "/ui/link.txt"), 404, ""},
        {"missing", request("GET", "/ui/nothing.js"), 404, ""},
        {"post without token", request("POST", "/"), 401, ""},
        {"post with token", request("POST", "/", auth), 405, ""},
        {"api without token", request("GET", "/api/v1/pumps"), 401, ""},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string response = RawRequest(server.Port(), c.request);
        ASSERT_EQ(StatusOf(response), c.status) << response;
        if (c.status == 401) continue;
        EXPECT_NE(response.find("Content-Security-Policy: default-src 'self'"), std::string::npos) << response;
        EXPECT_NE(response.find("X-Content-Type-Options: nosniff"), std::string::npos) << response;
        EXPECT_NE(response.find("Cache-Control: no-cache"), std::string::npos) << response;
        if (!c.contentType.empty()) {
            EXPECT_NE(response.find("Content-Type: " + c.contentType + "\r\n"), std::string::npos) << response;
        }
    }
    EXPECT_EQ(BodyOf(RawRequest(server.Port(), request("GET", "/ui/app.js"))), "export {};");
    EXPECT_EQ(BodyOf(RawRequest(server.Port(), request("HEAD", "/ui/app.js"))), "");
}

}  // namespace
}  // namespace zarvik::http::test
