#include "Totals.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>
#include <vector>

#include "Output.h"
#include "Registry.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"
#include "hostkit/IsoTime.h"
#include "hostkit/VisibleText.h"
#include "loader/DriverSlots.h"
#include "station/StationChoice.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

struct NozzleTotal {
    const StationLine* line;
    const StationDispenser* dispenser;
    int nozzle;
    std::optional<double> total;  // litres; nothing when not read
    std::string error;            // why not
};

std::string NozzleName(const NozzleTotal& t) {
    const auto& names = t.dispenser->nozzleNames;
    return names.empty() ? std::string() : names[static_cast<std::size_t>(t.nozzle - 1)];
}

// Every nozzle of one line; a failure is kept with its nozzle and the worst
// exit code so far goes to `code`.
void ReadLine(const StationLine& line, const SessionOptions& base, std::vector<NozzleTotal>& out, ExitCode& code) {
    SessionOptions options = base;
    options.device = line.device;
    options.line = line.line;
    options.settings = line.settings;
    std::optional<Session> s;
    std::string lineError;
    try {
        if (const int signal = InterruptSignal())
            throw HostError(kExitInterrupted, "interrupted by " + SignalName(signal));
        s.emplace(options);
        s->Open();
    } catch (const std::exception& e) {
        lineError = ErrorText(e);  // an open that failed names its cause itself
        code = Worse(code, ExitCodeOf(e));
    }
    for (const StationDispenser& d : line.dispensers) {
        for (int k = 1; k <= d.nozzles; ++k) {
            NozzleTotal t{&line, &d, k, std::nullopt, lineError};
            // Interrupted: what was read is printed, the rest says why it was not.
            if (const int signal = InterruptSignal(); signal != 0 && t.error.empty())
                t.error = "interrupted by " + SignalName(signal);
            if (!t.error.empty()) {
                out.push_back(std::move(t));
                continue;
            }
            // The driver's errors are caught while its library is loaded.
            try {
                double litres = -1.0;
                slots::ReadNozzleTotal(s->Driver(), line.line, d.number, k, litres);
                if (s->LineResult() == 1) {
                    t.total = litres;
                } else {
                    t.error = "line result " + std::to_string(s->LineResult()) + " (" +
                              LineResultMeaning(s->LineResult()) + ")";
                    code = Worse(code, kExitNotGood);
                }
            } catch (const ESerialIO& e) {
                t.error = s->ExchangeFailure(ErrorText(e));
                code = Worse(code, ExitCodeOf(e));
            } catch (const std::exception& e) {
                t.error = ErrorText(e) + s->FaultCause();
                code = Worse(code, ExitCodeOf(e));
            }
            out.push_back(std::move(t));
        }
    }
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

int RunTotals(const StationFile& station, const SessionOptions& base, OutputFormat format) {
    const std::string time = IsoTime(std::chrono::system_clock::now());
    std::vector<NozzleTotal> totals;
    ExitCode code = kExitOk;
    for (const StationLine& line : station.lines) ReadLine(line, base, totals, code);
    if (InterruptSignal() != 0) code = kExitInterrupted;
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
    return code;
}

namespace {

void TotalsOptions(CLI::App& c, Cli& cli) {
    c.add_option("--dispensers", cli.dispensers, "without --station: dispensers 1..N of the line")
        ->check(CLI::Range(1, 32));
    c.add_option("--nozzles,-n", cli.args.nozzles, "without --station: nozzles per dispenser")->check(CLI::Range(1, 6));
    c.add_flag("--csv", cli.csv, "comma-separated values instead of the table");
}

// What totals reads: the station (or its line given with --line), or the
// dispensers the command line names on --port.
StationFile Plan(const Invocation& in) {
    const CLI::App& totals = in.command;
    if (in.station) {
        if (totals.count("--dispensers") + totals.count("--nozzles") > 0)
            throw UsageError("totals with --station: the station file names the dispensers and their nozzles");
        return StationOrLine(*in.station, in.Line());
    }
    const Cli& cli = in.cli;
    if (cli.session.device.empty()) throw UsageError("totals: give --station FILE, or --port DEVICE");
    if (totals.count("--dispensers") == 0 || totals.count("--nozzles") == 0)
        throw UsageError("totals without --station: give --dispensers N and --nozzles K (every dispenser 1..N has K)");
    return CommandLineStation(cli.session.line, cli.session.device, cli.dispensers, cli.args.nozzles);
}

void CheckTotals(Invocation& in) {
    ChooseFormat(in.cli.args.json, in.cli.csv);
    Plan(in);
}

int RunTotalsCommand(Invocation& in) {
    return RunTotals(Plan(in), in.cli.session, ChooseFormat(in.cli.args.json, in.cli.csv));
}

}  // namespace

extern const Command kTotalsCommand{
    "totals",
    "every nozzle's total on every dispenser of the line or the station (for a shift close)",
    TotalsOptions,
    CheckTotals,
    RunTotalsCommand,
    true,
    false};

}  // namespace zarvik::host
