// The telemetry section of the station file: each fault named by its key;
// the password only from a file others cannot read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "hostkit/ExitCodes.h"
#include "station/StationFile.h"
#include "telemetry/Settings.h"

namespace zarvik::telemetry {
namespace {

TEST(TelemetrySettingsTest, GoodSectionsAndEveryFaultByItsKey) {
    const auto parse = [](const std::string& telemetry) {
        return ParseTelemetrySettings(R"({"tokens": "t", "telemetry": )" + telemetry + "}", "station.json");
    };
    EXPECT_FALSE(ParseTelemetrySettings(R"({"tokens": "t"})", "station.json"));
    const auto plain = parse(R"({"broker": "127.0.0.1", "prefix": "zarvik/s7"})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->port, 1883);
    EXPECT_EQ(plain->clientId, "zarvik-s7");
    const auto tls = parse(R"({"broker": "mqtt.example.net", "prefix": "z/s7", "tls": {"ca": "ca.pem"}})");
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->port, 8883);
    EXPECT_EQ(parse(R"({"broker": "[::1]:1999", "prefix": "z"})")->host, "::1");

    const struct {
        const char* telemetry;
        const char* key;
    } faults[] = {
        {R"({"prefix": "z/s"})", "$.service.telemetry.broker"},
        {R"({"broker": "mqtt.example.net", "prefix": "z/s"})", "$.service.telemetry.broker"},  // no TLS
        {R"({"broker": "127.0.0.1:0", "prefix": "z/s"})", "$.service.telemetry.broker"},
        {R"({"broker": "127.0.0.1:x", "prefix": "z/s"})", "$.service.telemetry.broker"},
        {R"({"broker": "127.0.0.1", "prefix": "z/+/s"})", "$.service.telemetry.prefix"},
        {R"({"broker": "127.0.0.1", "prefix": "z/s/"})", "$.service.telemetry.prefix"},
        {R"({"broker": "127.0.0.1", "prefix": "z//s"})", "$.service.telemetry.prefix"},
        {R"({"broker": "127.0.0.1"})", "$.service.telemetry.prefix"},
        {R"({"broker": "127.0.0.1", "prefix": "z", "password": "x"})", "$.service.telemetry.password"},
        {R"({"broker": "127.0.0.1", "prefix": "z", "passwordFile": "p"})", "$.service.telemetry.passwordFile"},
        {R"({"broker": "127.0.0.1", "prefix": "z", "totalsEverySeconds": -1})",
         "$.service.telemetry.totalsEverySeconds"},
        {R"({"broker": "h", "prefix": "z", "tls": {"ca": "c", "certificate": "c"}})", "$.service.telemetry.tls.key"},
        {R"({"broker": "h", "prefix": "z", "tls": {"certificate": "c", "key": "k"}})", "$.service.telemetry.tls.ca"},
        {R"("on")", "$.service.telemetry"},
    };
    for (const auto& f : faults) {
        try {
            parse(f.telemetry);
            ADD_FAILURE() << f.telemetry << " was taken";
        } catch (const host::StationFileError& e) {
            EXPECT_EQ(e.Key(), f.key) << f.telemetry << ": " << e.what();
        }
    }
}

TEST(TelemetrySettingsTest, PasswordFile_FirstLine_RefusedWhenOthersMayReadIt) {
    const std::string path = (std::filesystem::temp_directory_path() / ("mqtt-password-" + std::to_string(getpid())));
    const struct {
        const char* text;
        mode_t mode;
        const char* password;  // nullptr: refused
    } cases[] = {
        {"s3cret\nignored\n", 0600, "s3cret"},
        {"s3cret\r\n", 0640, "s3cret"},
        {"s3cret\n", 0604, nullptr},
        {"\n", 0600, nullptr},
    };
    for (const auto& c : cases) {
        std::ofstream(path) << c.text;
        chmod(path.c_str(), c.mode);
        if (c.password != nullptr)
            EXPECT_EQ(ReadPasswordFile(path), c.password);
        else
            EXPECT_THROW(ReadPasswordFile(path), host::HostError) << c.text;
    }
    std::filesystem::remove(path);
    EXPECT_THROW(ReadPasswordFile(path), host::HostError);
}

}  // namespace
}  // namespace zarvik::telemetry
