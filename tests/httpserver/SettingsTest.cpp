// The "service" section and the token file: each problem named by its key or
// line, and the token checks that decide a request's role.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestServer.h"
#include "httpserver/ServerSettings.h"
#include "httpserver/TokenFile.h"
#include "station/StationFile.h"

namespace zarvik::http::test {
namespace {

TEST(ServerSettings, AWholeSectionIsRead) {
    const ServerSettings s = ParseServerSettings(
        R"({"listen": "0.0.0.0:0", "unixSocket": "/run/z.sock", "tls": {"certificate": "c.pem", "key": "k.pem"},
            "tokens": "/etc/t", "limits": {"maxConnections": 5, "maxBodyBytes": 0, "maxHeaderBytes": 4096,
            "clientTimeoutSeconds": 3}})",
        "station.json");
    EXPECT_EQ(s.listen, "0.0.0.0:0");
    EXPECT_EQ(s.unixSocket, "/run/z.sock");
    EXPECT_EQ(s.certificate, "c.pem");
    EXPECT_EQ(s.key, "k.pem");
    EXPECT_EQ(s.tokens, "/etc/t");
    EXPECT_EQ(s.limits.maxConnections, 5);
    EXPECT_EQ(s.limits.maxBodyBytes, 0U);
    EXPECT_EQ(s.limits.maxHeaderBytes, 4096U);
    EXPECT_EQ(s.limits.clientTimeoutSeconds, 3);
    const ServerSettings defaults = ParseServerSettings(R"({"tokens": "t"})", "s");
    EXPECT_EQ(defaults.listen, "127.0.0.1:8710");
    EXPECT_EQ(defaults.limits.maxConnections, 64);
    EXPECT_EQ(ParseServerSettings(R"({"tokens": "t", "listen": "[::1]:8710"})", "s").listen, "[::1]:8710");
}

TEST(ServerSettings, EachProblemNamesItsKey) {
    const struct {
        const char* json;
        const char* key;
    } cases[] = {
        {R"([1])", "$.service"},
        {R"({"tokens": "t",)", "$.service"},
        {R"({"listen": "127.0.0.1:8710"})", "$.service.tokens"},
        {R"({"tokens": ""})", "$.service.tokens"},
        {R"({"tokens": "t", "port": 1})", "$.service.port"},
        {R"({"tokens": "t", "listen": 8710})", "$.service.listen"},
        {R"({"tokens": "t", "listen": "127.0.0.1"})", "$.service.listen"},
        {R"({"tokens": "t", "listen": "127.0.0.1:65536"})", "$.service.listen"},
        {R"({"tokens": "t", "listen": "example.org:80"})", "$.service.listen"},
        {R"({"tokens": "t", "listen": "0.0.0.0:8710"})", "$.service.listen"},
        {R"({"tokens": "t", "listen": "[2001:db8::1]:8710"})", "$.service.listen"},
        {R"({"tokens": "t", "listen": ""})", "$.service.listen"},
        {R"({"tokens": "t", "unixSocket": 1})", "$.service.unixSocket"},
        {R"({"tokens": "t", "tls": {"certificate": "c"}})", "$.service.tls.key"},
        {R"({"tokens": "t", "tls": {"key": "k"}})", "$.service.tls.certificate"},
        {R"({"tokens": "t", "tls": {"certificate": "c", "key": "k", "ca": "x"}})", "$.service.tls.ca"},
        {R"({"tokens": "t", "tls": "c.pem"})", "$.service.tls"},
        {R"({"tokens": "t", "limits": {"maxConnections": 0}})", "$.service.limits.maxConnections"},
        {R"({"tokens": "t", "limits": {"maxConnections": 1.5}})", "$.service.limits.maxConnections"},
        {R"({"tokens": "t", "limits": {"maxBodyBytes": -1}})", "$.service.limits.maxBodyBytes"},
        {R"({"tokens": "t", "limits": {"maxBodyBytes": 18446744073709551615}})", "$.service.limits.maxBodyBytes"},
        {R"({"tokens": "t", "limits": {"maxHeaderBytes": "8192"}})", "$.service.limits.maxHeaderBytes"},
        {R"({"tokens": "t", "limits": {"clientTimeoutSeconds": 0}})", "$.service.limits.clientTimeoutSeconds"},
        {R"({"tokens": "t", "limits": {"timeout": 1}})", "$.service.limits.timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            ParseServerSettings(c.json, "station.json");
            ADD_FAILURE() << "accepted";
        } catch (const host::StationFileError& e) {
            EXPECT_EQ(e.Key(), c.key) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("station.json", 0), 0U) << e.what();
        }
    }
}

TEST(TokenFile, RolesAreTheTokensAndNothingNearThem) {
    const TokenFile tokens = TokenFile::Parse(
        "# station tokens\n\n  read   aaaaaaaaaaaaaaaa  \r\ncontrol\tbbbbbbbbbbbbbbbbbbbb\n", "tokens");
    EXPECT_EQ(tokens.Size(), 2U);
    EXPECT_EQ(tokens.Check("aaaaaaaaaaaaaaaa"), Role::Read);
    EXPECT_EQ(tokens.Check("bbbbbbbbbbbbbbbbbbbb"), Role::Control);
    for (const char* wrong :
         {"", "aaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaab", "bbbbbbbbbbbbbbbbbbb", "AAAAAAAAAAAAAAAA"}) {
        EXPECT_EQ(tokens.Check(wrong), Role::None) << wrong;
    }
    EXPECT_EQ(tokens.Check(std::string(1000, 'a')), Role::None);
    // A token of the longest length still matches exactly.
    const std::string longest(kMaxTokenLength, 'z');
    const TokenFile full = TokenFile::Parse("read " + longest + "\n", "tokens");
    EXPECT_EQ(full.Check(longest), Role::Read);
    EXPECT_EQ(full.Check(longest + "z"), Role::None);
}

TEST(TokenFile, MalformedFilesAreRefusedWithTheLine) {
    const struct {
        const char* text;
        const char* cause;
    } cases[] = {
        {"", "holds no token"},
        {"# only a comment\n", "holds no token"},
        {"read\n", "line 1"},
        {"\nwrite aaaaaaaaaaaaaaaa\n", "line 2"},
        {"read short\n", "line 1"},
        {"read aaaaaaaa aaaaaaaaaa\n", "line 1"},
        {"read aaaaaaaaaaaaaaa\xc3\xa9\n", "line 1"},
        {"read aaaaaaaaaaaaaaaa\ncontrol aaaaaaaaaaaaaaaa\n", "line 2: the same token"},
    };
    for (const auto& c : cases) {
        try {
            TokenFile::Parse(c.text, "tokens");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const host::HostError& e) {
            EXPECT_EQ(e.Code(), host::kExitConfig);
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
        }
    }
}

TEST(TokenFile, AFileOthersMayReadOrWriteIsRefused) {
    ScratchDir dir;
    const auto path = dir.path / "tokens";
    for (const unsigned mode : {0644U, 0602U, 0601U}) {
        WriteTokenFile(path, mode);
        try {
            TokenFile::Read(path.string());
            ADD_FAILURE() << "accepted mode " << std::oct << mode;
        } catch (const host::HostError& e) {
            EXPECT_NE(std::string(e.what()).find("others may read or write it"), std::string::npos) << e.what();
        }
    }
    WriteTokenFile(path, 0640);
    EXPECT_EQ(TokenFile::Read(path.string()).Check(kControlToken), Role::Control);
    EXPECT_THROW(TokenFile::Read((dir.path / "missing").string()), host::HostError);
}

}  // namespace
}  // namespace zarvik::http::test
