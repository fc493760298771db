#include "Config.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

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

JournalSettings ReadJournal(const std::string& service, const std::string& source) {
    JournalSettings journal;
    const auto doc = nlohmann::json::parse(service.empty() ? "{}" : service);
    if (!doc.contains("journal")) return journal;
    const auto fail = [&source](const std::string& why) {
        throw host::HostError(host::kExitConfig, source + ": $.service.journal" + why);
    };
    const auto& j = doc.at("journal");
    if (!j.is_object()) fail(" must be an object");
    for (const auto& [key, value] : j.items()) {
        if (key == "path") {
            if (!value.is_string() || value.get<std::string>().empty()) fail(".path must be a file's path");
            journal.path = value.get<std::string>();
        } else if (key == "keepAcknowledgedDays") {
            if (!value.is_number_integer() || value.get<long long>() < 1 || value.get<long long>() > 3650)
                fail(".keepAcknowledgedDays must be a whole number of days from 1 to 3650");
            journal.keepAcknowledgedDays = value.get<int>();
        } else {
            fail(" has an unknown key \"" + key + "\"");
        }
    }
    return journal;
}

}  // namespace

Config ReadConfig(const std::string& stationPath) {
    Config config;
    config.station = host::ReadStationFile(stationPath);
    // A station file without the section still needs its token file: "$.service.tokens" says so.
    config.settings =
        http::ParseServerSettings(config.station.service.empty() ? "{}" : config.station.service, stationPath);
    config.tokens = http::TokenFile::Read(config.settings.tokens);
    config.journal = ReadJournal(config.station.service, stationPath);
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
