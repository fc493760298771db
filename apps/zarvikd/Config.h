// zarvikd's configuration: the station file with its "service" section, the
// token file it names and the certificate and key when TLS is configured,
// and the telemetry's settings with its password file.
// Read whole before anything is opened; the first problem throws
// zarvik::host::HostError (configuration, exit code 4) with the cause.
#pragma once

#include <optional>
#include <string>

#include "httpserver/ServerSettings.h"
#include "httpserver/TokenFile.h"
#include "station/StationFile.h"
#include "telemetry/Settings.h"

namespace zarvik::zarvikd {

// The sales journal: "service": {"journal": {"path", "keepAcknowledgedDays"}}.
struct JournalSettings {
    std::string path = "/var/lib/zarvikd/sales.db";
    int keepAcknowledgedDays = 90;  // acknowledged sales older than this are pruned
};

struct Config {
    host::StationFile station;
    http::ServerSettings settings;
    http::TokenFile tokens;
    JournalSettings journal;
    std::optional<telemetry::TelemetrySettings> telemetry;  // "service": {"telemetry": ...}; none: no telemetry
};

Config ReadConfig(const std::string& stationPath);

}  // namespace zarvik::zarvikd
