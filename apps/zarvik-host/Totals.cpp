#include "Totals.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <vector>

#include "Output.h"
#include "Registry.h"
#include "TotalsReport.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"
#include "hostkit/IsoTime.h"
#include "loader/DriverSlots.h"
#include "station/StationChoice.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

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

}  // namespace

int RunTotals(const StationFile& station, const SessionOptions& base, OutputFormat format) {
    const std::string time = IsoTime(std::chrono::system_clock::now());
    std::vector<NozzleTotal> totals;
    ExitCode code = kExitOk;
    for (const StationLine& line : station.lines) ReadLine(line, base, totals, code);
    if (InterruptSignal() != 0) code = kExitInterrupted;
    PrintTotals(station, totals, time, format);
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
