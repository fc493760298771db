#include "TotalsReport.h"

#include <cstdio>
#include <iostream>

#include "hostkit/VisibleText.h"

namespace zarvik::host {
namespace {

std::string NozzleName(const NozzleTotal& t) {
    const auto& names = t.dispenser->nozzleNames;
    return names.empty() ? std::string() : names[static_cast<std::size_t>(t.nozzle - 1)];
}

std::string Litres(double litres) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", litres);
    return text;
}

void PrintText(const std::vector<NozzleTotal>& totals, const std::string& time) {
    std::printf("totals at %s\n%4s %9s %6s %14s  %s\n", time.c_str(), "line", "dispenser", "nozzle", "total, L",
                "name");
    int missing = 0;
    for (const NozzleTotal& t : totals) {
        std::string names = t.dispenser->name;
        const std::string nozzle = NozzleName(t);
        if (!nozzle.empty()) names += (names.empty() ? "" : ", ") + nozzle;
        const std::string value = t.total ? Litres(*t.total) : "-";
        // The names come from the station file: shown with their controls visible.
        const std::string note = t.total ? VisibleText(names) : "not read: " + t.error;
        std::printf("%4d %9d %6d %14s%s%s\n", t.line->line, t.dispenser->number, t.nozzle, value.c_str(),
                    note.empty() ? "" : "  ", note.c_str());
        missing += t.total ? 0 : 1;
    }
    std::printf("%zu nozzle(s), %d not read\n", totals.size(), missing);
    std::fflush(stdout);
}

void PrintCsv(const std::vector<NozzleTotal>& totals) {
    std::cout << "line,dispenser,nozzle,total_litres,dispenser_name,nozzle_name,error\n";
    for (const NozzleTotal& t : totals)
        std::cout << t.line->line << ',' << t.dispenser->number << ',' << t.nozzle << ','
                  << (t.total ? Litres(*t.total) : "") << ',' << CsvField(VisibleText(t.dispenser->name)) << ','
                  << CsvField(VisibleText(NozzleName(t))) << ',' << CsvField(t.error) << '\n';
    std::cout.flush();
}

json NozzleJson(const NozzleTotal& t) {
    json n{{"number", t.nozzle}};
    if (const std::string name = NozzleName(t); !name.empty()) n["name"] = name;
    n["total"] = t.total ? json(*t.total) : json(nullptr);
    if (!t.total) n["error"] = t.error;
    return n;
}

// Totals arrive grouped by line and dispenser, in the station file's order.
json TotalsJson(const StationFile& station, const std::vector<NozzleTotal>& totals, const std::string& time) {
    json lines = json::array();
    bool complete = true;
    for (const NozzleTotal& t : totals) {
        complete = complete && t.total.has_value();
        if (lines.empty() || lines.back()["line"] != t.line->line) {
            lines.push_back({{"line", t.line->line}, {"device", t.line->device}, {"dispensers", json::array()}});
            if (!t.line->name.empty()) lines.back()["name"] = t.line->name;
        }
        json& dispensers = lines.back()["dispensers"];
        if (dispensers.empty() || dispensers.back()["number"] != t.dispenser->number) {
            dispensers.push_back({{"number", t.dispenser->number}, {"nozzles", json::array()}});
            if (!t.dispenser->name.empty()) dispensers.back()["name"] = t.dispenser->name;
        }
        dispensers.back()["nozzles"].push_back(NozzleJson(t));
    }
    json doc{{"time", time}, {"complete", complete}, {"lines", std::move(lines)}};
    if (!station.name.empty()) doc["station"] = station.name;
    return doc;
}

}  // namespace

void PrintTotals(const StationFile& station, const std::vector<NozzleTotal>& totals, const std::string& time,
                 OutputFormat format) {
    switch (format) {
        case OutputFormat::Text:
            PrintText(totals, time);
            break;
        case OutputFormat::Csv:
            PrintCsv(totals);
            break;
        case OutputFormat::Json:
            PrintDocument(TotalsJson(station, totals, time));
            break;
    }
}

}  // namespace zarvik::host
