#include "Config.h"

#include <fstream>
#include <iterator>

#include "hostkit/ExitCodes.h"

namespace zarvik::zarvikd {

namespace {

// A PEM file the server will read at start: checked now so --check-config
// catches a missing or unreadable one.
void CheckPem(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw host::HostError(host::kExitConfig, std::string(what) + " " + path + ": cannot be read");
    if (text.find("-----BEGIN ") == std::string::npos)
        throw host::HostError(host::kExitConfig,
                              std::string(what) + " " + path + ": cannot be read or holds no PEM block");
}

}  // namespace

Config ReadConfig(const std::string& stationPath) {
    Config config;
    config.station = host::ReadStationFile(stationPath);
    // A station file without the section still needs its token file: "$.service.tokens" says so.
    config.settings =
        http::ParseServerSettings(config.station.service.empty() ? "{}" : config.station.service, stationPath);
    config.tokens = http::TokenFile::Read(config.settings.tokens);
    if (!config.settings.certificate.empty()) {
        CheckPem(config.settings.certificate, "certificate");
        CheckPem(config.settings.key, "key");
    }
    config.telemetry =
        telemetry::ParseTelemetrySettings(config.station.service.empty() ? "{}" : config.station.service, stationPath);
    if (config.telemetry && !config.telemetry->ca.empty()) {
        CheckPem(config.telemetry->ca, "MQTT CA");
        if (!config.telemetry->certificate.empty()) {
            CheckPem(config.telemetry->certificate, "MQTT certificate");
            CheckPem(config.telemetry->key, "MQTT key");
        }
    }
    return config;
}

}  // namespace zarvik::zarvikd
