#include "TelemetryWiring.h"

#include "service/ApiJson.h"
#include "service/TransactionRoutes.h"

namespace zarvik::zarvikd {
namespace {

// The API's own document for PATH (the same one a client gets), or throws with its error.
std::string ApiDocument(service::Api& api, const std::string& path) {
    http::Request request;
    request.method = "GET";
    request.path = path;
    request.role = http::Role::Read;
    http::Response response = api.Handle(request);
    if (response.status != 200) throw std::runtime_error(path + ": " + response.body);
    return std::move(response.body);
}

std::vector<telemetry::LineReport> LineReports(const service::Service& service) {
    std::vector<telemetry::LineReport> reports;
    for (const host::StationLine& line : service.Station().lines) {
        const auto record = service.State().Line(line.line);
        if (!record) continue;
        std::string key = service::HealthName(record->health);
        if (record->lastFault) key += " " + record->lastFault->cause;  // a new cause, not each repeat
        reports.push_back(
            {line.line, key,
             service::LineJson(line, *record).dump(-1, ' ', false, service::json::error_handler_t::replace)});
    }
    return reports;
}

}  // namespace

bool TelemetryWiring::Prices::SetPrice(int line, int dispenser, int nozzle, double price) {
    // Throws with the cause (Refused, a line failure, an unknown pump).
    const service::json answer = control.SetPrice(line, dispenser, nozzle, price);
    return !answer.value("pending", false);
}

TelemetryWiring::TelemetryWiring(telemetry::TelemetrySettings settings, service::Service& service, service::Api& api,
                                 journal::Journal* journal, http::Logger log)
    : prices_(service) {
    telemetry_ = std::make_shared<telemetry::Telemetry>(
        std::move(settings), journal, prices_, [&api] { return ApiDocument(api, "/api/v1/totals"); },
        [&service] { return LineReports(service); }, service::TransactionText, std::move(log));
    // Called under the state's lock: builds the document and hands it over.
    service.OnPumpChanged([&service, t = telemetry_](int line, int dispenser, const service::PumpRecord& record) {
        for (const host::StationLine& l : service.Station().lines) {
            if (l.line != line) continue;
            for (const host::StationDispenser& d : l.dispensers) {
                if (d.number != dispenser) continue;
                service::JsonText out;
                service::TimeTexts times;
                service::WritePump(out, times, l, d, record, std::chrono::system_clock::now());
                t->PumpChanged(line, dispenser, out.Take());
            }
        }
    });
}

}  // namespace zarvik::zarvikd
