#include "service/LineJobs.h"

#include "hostkit/Console.h"
#include "loader/DriverSlots.h"
#include "station/Descriptions.h"
#include "station/Session.h"
#include "zarvik/exceptions.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr std::uint8_t kReadGood = 1;
constexpr int kMaxTables = 99;

std::string ResultText(std::uint8_t result) {
    return "line result " + std::to_string(result) + " (" + host::LineResultMeaning(result) + ")";
}

void ReadTotal(LineContext& c, const host::StationDispenser& d, int nozzle, json& n) {
    std::string error;
    if (const auto total = ReadNozzleTotal(c, d.number, nozzle, error)) {
        n["total"] = *total;
        return;
    }
    n["total"] = nullptr;
    n["error"] = error;
}

json FieldJson(const host::FieldDescription& f) {
    return {{"number", f.number}, {"name", f.name}, {"type", f.type},
            {"size", f.size},     {"low", f.low},   {"high", f.high}};
}

}  // namespace

json LineTotalsEntry(const host::StationLine& line, std::optional<int> dispenser, const NozzleFill& fill) {
    json dispensers = json::array();
    for (const host::StationDispenser& d : line.dispensers) {
        if (dispenser && *dispenser != d.number) continue;
        json nozzles = json::array();
        for (int k = 1; k <= d.nozzles; ++k) {
            json n{{"number", k}};
            if (!d.nozzleNames.empty()) n["name"] = d.nozzleNames[static_cast<std::size_t>(k - 1)];
            fill(n, d, k);
            nozzles.push_back(std::move(n));
        }
        json entry{{"number", d.number}, {"nozzles", std::move(nozzles)}};
        if (!d.name.empty()) entry["name"] = d.name;
        dispensers.push_back(std::move(entry));
    }
    json out{{"line", line.line}, {"device", line.device}, {"dispensers", std::move(dispensers)}};
    if (!line.name.empty()) out["name"] = line.name;
    return out;
}

std::optional<double> ReadNozzleTotal(LineContext& c, int dispenser, int nozzle, std::string& error) {
    try {
        double litres = -1.0;
        host::slots::ReadNozzleTotal(c.driver, c.line, dispenser, nozzle, litres);
        const std::uint8_t result = host::slots::GetLineResult(c.driver, c.line);
        if (result == kReadGood) return litres;
        error = ResultText(result);
    } catch (const std::exception& e) {
        error = c.failureCause(host::ErrorText(e));
    }
    return std::nullopt;
}

json ReadLineTotals(LineContext& c, const host::StationLine& line, std::optional<int> dispenser) {
    return LineTotalsEntry(line, dispenser,
                           [&c](json& n, const host::StationDispenser& d, int k) { ReadTotal(c, d, k, n); });
}

json ReadTables(LineContext& c, int address) {
    const host::DescriptionLine link{c.port, c.line, c.nextSequence};
    const auto bus = static_cast<std::uint8_t>(address);
    json tables = json::array();
    bool complete = true;
    try {
        for (int t = 1; t <= kMaxTables; ++t) {
            const auto table = host::ReadTableDescription(link, bus, t);
            if (!table) break;
            json fields = json::array();
            for (int f = 1; f <= table->fields; ++f) {
                const auto field = host::ReadFieldDescription(link, bus, t, f);
                complete = complete && field.has_value();
                fields.push_back(field ? FieldJson(*field) : json{{"number", f}, {"error", "no description"}});
            }
            tables.push_back(
                {{"number", t}, {"name", table->name}, {"rows", table->rows}, {"fields", std::move(fields)}});
        }
    } catch (const std::exception& e) {
        throw LineFailure(c.failureCause(host::ErrorText(e)));
    }
    return {{"address", address}, {"complete", complete && !tables.empty()}, {"tables", std::move(tables)}};
}

std::int32_t ReadParameterValue(LineContext& c, int address, std::int32_t code) {
    try {
        const std::int32_t value = host::slots::ReadParameter(c.driver, c.line, address, code);
        const std::uint8_t result = host::slots::GetLineResult(c.driver, c.line);
        if (result != kReadGood) throw LineFailure(c.failureCause(ResultText(result)));
        return value;
    } catch (const LineFailure&) {
        throw;
    } catch (const std::exception& e) {
        throw LineFailure(c.failureCause(host::ErrorText(e)));
    }
}

}  // namespace zarvik::service
