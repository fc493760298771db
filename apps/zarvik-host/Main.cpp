// zarvik-host: the reference host. Loads libZarvikTrk.so, creates the driver
// on the serial port service and calls its operations by slot.
//
// The commands that run on one line's session stand in one table
// (kSessionCommands) with the options they take; totals, ports, demo and gui
// build what they need themselves. Exit codes: ExitCodes.h.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "Capture.h"
#include "Commands.h"
#include "Console.h"
#include "DecimalText.h"
#include "ExchangeLog.h"
#include "ExitCodes.h"
#include "Interrupt.h"
#include "ParamsCommands.h"
#include "Ports.h"
#include "StationFile.h"
#include "StationGui.h"
#include "Suggest.h"
#include "Totals.h"
#include "Version.h"

namespace {

using namespace zarvik::host;

struct Cli {
    SessionOptions session;
    CommandArgs args;
    std::string capture;
    bool overwrite = false;  // --capture may replace an existing file
    std::string log;
    std::size_t logMegabytes = ExchangeLog::kDefaultMaxBytes / (1024 * 1024);
    std::size_t logFiles = ExchangeLog::kDefaultFiles;
    std::string station;
    bool csv = false;
    int dispensers = 0;  // totals without a station file
    GuiOptions gui;
    bool simulate = false;
    std::string value;  // VALUE of a dose or price as typed
};

// Thrown by --version's callback, before the parser asks for a command.
struct VersionRequested {};

// --- the options each command takes ---

void Dispenser(CLI::App& c, Cli& cli, bool required) {
    auto* o =
        c.add_option("--dispenser,-d", cli.args.dispenser, "dispenser number on the line")->check(CLI::Range(1, 32));
    if (required) o->required();
}
// A command that changes a dispenser names it and its nozzle: no default.
constexpr const char* kOneNozzle =
    "one nozzle: its number (a count of nozzles is --nozzles/-n, for status, watch, stats)";
constexpr const char* kNozzleCount =
    "a count: how many nozzles to poll (with --station: the dispenser's); one nozzle is --nozzle/-k";
void Target(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, true);
    c.add_option("--nozzle,-k", cli.args.nozzle, kOneNozzle)->check(CLI::Range(1, 6))->required();
}
void TargetValue(CLI::App& c, Cli& cli) {
    Target(c, cli);
    c.add_option("VALUE", cli.value, "the value: digits with one decimal point or comma (56.30 or 56,30)")->required();
}
void Nozzle(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, false);
    c.add_option("--nozzle,-k", cli.args.nozzle, kOneNozzle)->check(CLI::Range(1, 6));
}
void Nozzles(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, false);
    c.add_option("--nozzles,-n", cli.args.nozzles, kNozzleCount)->check(CLI::Range(1, 6));
}
void Address(CLI::App& c, Cli& cli) {
    c.add_option("--address,-a", cli.args.address, "bus address")->check(CLI::Range(1, 255));
}
void ParamCode(CLI::App& c, Cli& cli) {
    Address(c, cli);
    c.add_option("--code,-c", cli.args.code, "parameter code 1TTRRFF")->required();
}
void Watch(CLI::App& c, Cli& cli) {
    Nozzles(c, cli);
    c.add_option("--count", cli.args.count, "stop after this many polls (0: until Ctrl-C)");
}
void Stats(CLI::App& c, Cli& cli) {
    Nozzles(c, cli);
    c.add_option("--polls", cli.args.count, "how many polls")->check(CLI::Range(1, 100000));
}
// The parameter commands bring their own options and take their own arguments.
void ParamWrite(CLI::App& c, Cli& cli) { AddParamWriteOptions(c, cli.args.params); }
void ParamsDump(CLI::App& c, Cli& cli) { AddParamsDumpOptions(c, cli.args.params); }
void ParamsRestore(CLI::App& c, Cli& cli) { AddParamsRestoreOptions(c, cli.args.params); }
int RunParamWriteCommand(Session& s, const CommandArgs& a) { return RunParamWrite(s, a.params); }
int RunParamsDumpCommand(Session& s, const CommandArgs& a) { return RunParamsDump(s, a.params); }
int RunParamsRestoreCommand(Session& s, const CommandArgs& a) { return RunParamsRestore(s, a.params); }

using Options = void (*)(CLI::App&, Cli&);
using Runner = int (*)(Session&, const CommandArgs&);

struct SessionCommand {
    const char* name;
    const char* help;
    Options options;  // null: none
    Runner run;
    bool json;  // takes --json
};

// In the order --help lists them.
const SessionCommand kSessionCommands[] = {
    {"info", "driver information and capabilities", nullptr, RunInfo, true},
    {"open", "open the line", nullptr, RunOpen, false},
    {"status", "poll a dispenser's nozzles", Nozzles, RunStatus, true},
    {"start", "start a nozzle", Target, RunStart, false},
    {"stop", "stop a nozzle", Target, RunStop, false},
    {"reset", "reset a dispenser and stop the nozzle", Target, RunReset, false},
    {"dose-litres", "preset a dose in litres", TargetValue, RunDoseLitres, false},
    {"dose-money", "preset a dose in money", TargetValue, RunDoseMoney, false},
    {"price", "set a nozzle's price", TargetValue, RunPrice, false},
    {"total", "read a nozzle's total", Nozzle, RunTotal, true},
    {"param-read", "read one parameter", ParamCode, RunParamRead, true},
    {"param-write", "write one parameter, checked against its field's description", ParamWrite, RunParamWriteCommand,
     false},
    {"tables", "all table and field descriptions", Address, RunTables, true},
    {"watch", "live status until Ctrl-C", Watch, RunWatch, false},
    {"scan", "which bus addresses answer", nullptr, RunScan, true},
    {"stats", "poll and print the line statistics", Stats, RunStats, true},
    {"params-dump", "every table, field and value of a row as JSON, complete or failed", ParamsDump,
     RunParamsDumpCommand, false},
    {"params-restore", "check a dump against the dispenser and show the differences; --apply writes them",
     ParamsRestore, RunParamsRestoreCommand, false},
};

struct OtherCommands {
    CLI::App* totals;
    CLI::App* ports;
    CLI::App* demo;
    CLI::App* gui;
};

void AddGlobalOptions(CLI::App& app, Cli& cli) {
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(kExitCodesHelp);
    auto* port = app.add_option("--port,-p", cli.session.device, "serial device or pseudo-terminal (COM1 on Windows)");
    app.add_option("--station", cli.station,
                   "station file (JSON; docs/station-file.md): lines, devices, rates, timeouts, dispensers")
        ->excludes(port);
    app.add_option("--line,-l", cli.session.line, "line number (with --station: one of its lines)")
        ->check(CLI::Range(1, 32));
    app.add_flag("--trace", cli.session.trace, "print every frame with its time: '> ' sent, '< ' received");
    app.add_option("--library", cli.session.library, "driver library (default: " + DefaultLibraryPath() + ")");
    app.add_option("--options", cli.session.options, "options value for GetVM30 (128: clear before a price change)");
    app.add_flag("--stats", cli.args.stats, "print the line statistics after the command");
    app.add_flag("--json", cli.args.json,
                 "one JSON document on stdout (info, status, total, totals, scan, stats, param-read, tables)");
    app.add_option("--capture", cli.capture,
                   "write every frame on the line to this pcap file (open it in Wireshark with "
                   "apps/wireshark/zarvik.lua, or replay it with zarvik-sim --replay)");
    app.add_flag("--overwrite", cli.overwrite, "let --capture replace an existing regular file");
    app.add_option("--log", cli.log,
                   "append every exchange (time, line, direction, bytes, outcome) to this file, rotated by size");
    app.add_option("--log-size", cli.logMegabytes, "size in MiB at which the log file is rotated")
        ->check(CLI::Range(1, 4096))
        ->capture_default_str();
    app.add_option("--log-files", cli.logFiles,
                   "rotated log files kept beside the current one (FILE.log rotates to FILE.1.log, FILE.2.log, ...)")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    app.add_flag_callback(
        "--version", [] { throw VersionRequested{}; }, "the tool's, the library's and the driver's version, then exit");
}

CLI::App* AddGuiCommand(CLI::App& app, Cli& cli) {
    CLI::App* gui =
        app.add_subcommand("gui", "the station window (an embedded simulated station without --port or --station)");
    gui->add_flag("--simulate", cli.simulate, "serve an embedded simulated station (the default without --port)");
    CLI::Option* screenshot =
        gui->add_option("--screenshot", cli.gui.screenshot, "render the window to this PNG file and exit");
    CLI::Option* openParams = gui->add_flag("--open-params", cli.gui.openParams,
                                            "with --screenshot: picture the parameter window after its read-all pass")
                                  ->needs(screenshot);
    gui->add_option("--screenshot-after", cli.gui.screenshotAfter,
                    "with --screenshot: seconds of polling before the picture")
        ->capture_default_str()
        ->check(CLI::Range(0.5, 600.0))
        ->needs(screenshot);
    gui->add_flag("--open-calibration", cli.gui.openCalibration,
                  "with --screenshot: picture the calibration dialog opened from the parameter window's table 2")
        ->needs(screenshot)
        ->excludes(openParams);
    gui->add_option("--dispensers", cli.gui.dispensers, "without --station: dispensers shown")
        ->capture_default_str()
        ->check(CLI::Range(1, 32));
    gui->add_option("--nozzles", cli.gui.nozzles, "without --station: nozzles per dispenser")
        ->capture_default_str()
        ->check(CLI::Range(1, 6));
    return gui;
}

OtherCommands AddOtherCommands(CLI::App& app, Cli& cli) {
    CLI::App* totals = app.add_subcommand(
        "totals", "every nozzle's total on every dispenser of the line or the station (for a shift close)");
    totals->add_option("--dispensers", cli.dispensers, "without --station: dispensers 1..N of the line")
        ->check(CLI::Range(1, 32));
    totals->add_option("--nozzles,-n", cli.args.nozzles, "without --station: nozzles per dispenser")
        ->check(CLI::Range(1, 6));
    totals->add_flag("--csv", cli.csv, "comma-separated values instead of the table");
    CLI::App* ports = app.add_subcommand("ports", "the serial devices present, whether each opens, who holds it");
    CLI::App* demo = app.add_subcommand("demo", "a delivery on an embedded simulated station");
    CLI::App* gui = AddGuiCommand(app, cli);
    return {totals, ports, demo, gui};
}

std::map<CLI::App*, const SessionCommand*> AddSessionCommands(CLI::App& app, Cli& cli) {
    std::map<CLI::App*, const SessionCommand*> commands;
    for (const SessionCommand& command : kSessionCommands) {
        CLI::App* c = app.add_subcommand(command.name, command.help);
        if (command.options != nullptr) command.options(*c, cli);
        commands[c] = &command;
    }
    return commands;
}

// --- the station file ---

std::string LineList(const StationFile& station) {
    std::string list;
    for (const auto& l : station.lines) list += (list.empty() ? "" : ", ") + std::to_string(l.line);
    return list;
}

// --line when given, else the station's only line.
const StationLine& ChooseLine(const StationFile& station, const CLI::App& app, int line) {
    if (app.count("--line") == 0) {
        if (station.lines.size() == 1) return station.lines.front();
        throw UsageError(station.source + " has lines " + LineList(station) + ": choose one with --line");
    }
    const StationLine* chosen = station.Find(line);
    if (chosen == nullptr)
        throw UsageError("line " + std::to_string(line) + " is not in " + station.source + " (it has " +
                         LineList(station) + ")");
    return *chosen;
}

// A one-line command on a station: the line's device and settings; the
// dispenser and nozzles it names must be on that line.
void UseStationLine(const StationFile& station, const CLI::App& app, const CLI::App& sub, Cli& cli) {
    const StationLine& line = ChooseLine(station, app, cli.session.line);
    cli.session.device = line.device;
    cli.session.line = line.line;
    cli.session.settings = line.settings;
    if (sub.get_option_no_throw("--dispenser") == nullptr) return;
    const StationDispenser* d = line.Find(cli.args.dispenser);
    const std::string where = " on line " + std::to_string(line.line) + " of " + station.source;
    if (d == nullptr) throw UsageError("dispenser " + std::to_string(cli.args.dispenser) + " is not" + where);
    const std::string has =
        "dispenser " + std::to_string(d->number) + where + " has " + std::to_string(d->nozzles) + " nozzle(s)";
    if (const CLI::Option* n = sub.get_option_no_throw("--nozzles")) {
        if (n->count() == 0) cli.args.nozzles = d->nozzles;
        if (cli.args.nozzles > d->nozzles) throw UsageError(has);
    }
    if (sub.get_option_no_throw("--nozzle") != nullptr && cli.args.nozzle > d->nozzles) throw UsageError(has);
}

// What totals reads: the station (or its line given with --line), or the
// dispensers the command line names on --port.
StationFile TotalsPlan(const std::optional<StationFile>& station, const CLI::App& app, const CLI::App& totals,
                       const Cli& cli) {
    if (station) {
        if (totals.count("--dispensers") + totals.count("--nozzles") > 0)
            throw UsageError("totals with --station: the station file names the dispensers and their nozzles");
        if (app.count("--line") == 0) return *station;
        StationFile one = *station;
        one.lines = {ChooseLine(*station, app, cli.session.line)};
        return one;
    }
    if (cli.session.device.empty()) throw UsageError("totals: give --station FILE, or --port DEVICE");
    if (totals.count("--dispensers") == 0 || totals.count("--nozzles") == 0)
        throw UsageError("totals without --station: give --dispensers N and --nozzles K (every dispenser 1..N has K)");
    StationFile plan;
    plan.source = "the command line";
    StationLine line;
    line.line = cli.session.line;
    line.device = cli.session.device;
    for (int d = 1; d <= cli.dispensers; ++d) line.dispensers.push_back({d, cli.args.nozzles, {}, {}});
    plan.lines.push_back(std::move(line));
    return plan;
}

// --- mistakes ---

std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* o : app.get_options()) {
        for (const auto& n : o->get_lnames()) names.push_back("--" + n);
        for (const auto& n : o->get_snames()) names.push_back("-" + n);
    }
    return names;
}

// One nozzle given where a count is taken, or the other way round.
std::string NozzleHint(const CLI::App& command, const std::string& option) {
    const std::string name = command.get_name();
    if ((option == "--nozzle" || option == "-k") && command.get_option_no_throw("--nozzles") != nullptr)
        return name + " takes a count, --nozzles/-n N (how many nozzles to poll), not one nozzle (--nozzle/-k)";
    if ((option == "--nozzles" || option == "-n") && command.get_option_no_throw("--nozzle") != nullptr)
        return name + " takes one nozzle, --nozzle/-k K, not a count (--nozzles/-n)";
    return {};
}

// What the user probably meant by the first word of the command line that
// names no command or option; empty when nothing is near.
std::string Suggestion(const CLI::App& app, int argc, char** argv) {
    std::vector<std::string> commands;
    const CLI::App* command = nullptr;
    for (const CLI::App* sub : app.get_subcommands({})) commands.push_back(sub->get_name());
    for (int i = 1; i < argc && command == nullptr; ++i)
        for (const CLI::App* sub : app.get_subcommands({}))
            if (sub->get_name() == argv[i]) command = sub;
    std::vector<std::string> options = OptionNames(app);
    if (command != nullptr)
        for (auto& n : OptionNames(*command)) options.push_back(std::move(n));
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool option = word.rfind("--", 0) == 0 || (word.size() == 2 && word[0] == '-');
        if (option) {
            const std::string name = word.substr(0, word.find('='));
            if (std::find(options.begin(), options.end(), name) != options.end()) continue;
            if (command != nullptr)
                if (std::string hint = NozzleHint(*command, name); !hint.empty()) return hint;
            const std::string near = Nearest(name, options);
            return near.empty() ? std::string() : "no option " + name + ": did you mean " + near + "?";
        }
        if (command == nullptr && !word.empty() && word[0] != '-') {
            const std::string near = Nearest(word, commands);
            if (!near.empty()) return "no command \"" + word + "\": did you mean " + near + "?";
        }
    }
    return {};
}

// --- running ---

// The station window: the station file's lines (or its line given with
// --line), else one line on --port, else an embedded simulated station.
int RunGui(int argc, char** argv, const CLI::App& app, const CLI::App& gui, const std::optional<StationFile>& station,
           Cli& cli) {
    if (cli.simulate && (station || !cli.session.device.empty()))
        throw UsageError("gui: --simulate excludes --port and --station");
    if (cli.args.json)
        throw UsageError("--json is for info, status, total, totals, scan, stats, param-read and tables");
    if (station) {
        if (gui.count("--dispensers") + gui.count("--nozzles") > 0)
            throw UsageError("gui with --station: the station file names the dispensers and their nozzles");
        cli.gui.station = app.count("--line") == 0
                              ? station->lines
                              : std::vector<StationLine>{ChooseLine(*station, app, cli.session.line)};
    }
    cli.gui.port = cli.session.device;
    cli.gui.line = cli.session.line;
    cli.gui.library = cli.session.library;
    cli.gui.capture = cli.capture;
    cli.gui.overwrite = cli.overwrite;
#ifdef ZARVIK_HOST_GUI
    return RunStationGui(cli.gui, argc, argv);
#else
    (void)argc, (void)argv;
    std::cerr << "zarvik-host: the station window is not built (configure with ZARVIK_WITH_GUI=ON)\n";
    return kExitUsage;
#endif
}

// Runs a one-line command; the driver's errors are caught while its library
// is loaded (their text lives there).
int RunSessionCommand(const SessionCommand& command, const Cli& cli) {
    Session s(cli.session);
    try {
        const int code = command.run(s, cli.args);
        if (cli.args.stats && !cli.args.json) PrintStatistics(s, std::cout);
        return code;
    } catch (const std::exception& e) {
        if (dynamic_cast<const zarvik::ESerialIO*>(&e) != nullptr)
            std::cerr << "zarvik-host: " << s.ExchangeFailure(ErrorText(e)) << '\n';
        else
            std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        if (cli.args.stats) PrintStatistics(s, cli.args.json ? std::cerr : std::cout);
        return ExitCodeOf(e);
    }
}

// The files the host writes beside the command: a capture or log that lost
// records turns success into exit code 4.
struct Recorders {
    std::unique_ptr<zarvik::capture::CaptureWriter> capture;
    std::unique_ptr<ExchangeLog> log;

    explicit Recorders(Cli& cli) {
        if (!cli.capture.empty()) {
            try {
                capture = std::make_unique<zarvik::capture::CaptureWriter>(
                    cli.capture, cli.overwrite ? zarvik::capture::CaptureWriter::Existing::kOverwrite
                                               : zarvik::capture::CaptureWriter::Existing::kRefuse);
            } catch (const std::exception& e) {
                throw ConfigError(e.what());
            }
            cli.session.capture = capture.get();
        }
        if (!cli.log.empty()) {
            log = std::make_unique<ExchangeLog>(cli.log, cli.logMegabytes * 1024 * 1024, cli.logFiles);
            cli.session.log = log.get();
        }
    }
    int Finish(int code) const {
        bool whole = !capture || CheckCapture(*capture, std::cerr);
        if (log && !log->Error().empty()) {
            std::cerr << "zarvik-host: log " << log->Path() << " is incomplete: " << log->Error() << '\n';
            whole = false;
        }
        return whole || code != kExitOk ? code : kExitRecordIncomplete;
    }
};

// A signal that came while the command ran: the command finished the
// exchange in flight, and what it printed says what was done.
int AfterInterrupt(int code) {
    const int signal = InterruptSignal();
    if (signal == 0 || code == kExitInterrupted) return code;
    std::cerr << "zarvik-host: interrupted by " << SignalName(signal)
              << " after the command's last exchange; its output above says what was done\n";
    return kExitInterrupted;
}

int Dispatch(int argc, char** argv, const CLI::App& app, const OtherCommands& other,
             const std::map<CLI::App*, const SessionCommand*>& commands, Cli& cli) {
    const std::optional<StationFile> station =
        cli.station.empty() ? std::nullopt : std::optional<StationFile>(ReadStationFile(cli.station));
    if (other.gui->parsed()) return RunGui(argc, argv, app, *other.gui, station, cli);
    const SessionCommand* command = nullptr;
    const CLI::App* sub = nullptr;
    for (const auto& [c, entry] : commands)
        if (c->parsed()) command = entry, sub = c;
    const bool jsonTaken = other.totals->parsed() || (command != nullptr && command->json);
    if (cli.args.json && !jsonTaken)
        throw UsageError("--json is for info, status, total, totals, scan, stats, param-read and tables");
    if (cli.csv && cli.args.json) throw UsageError("totals: --csv or --json, not both");
    if (station && command != nullptr) UseStationLine(*station, app, *sub, cli);
    if (command != nullptr && command->options == TargetValue) {
        const DecimalReading value = ReadDecimalText(cli.value);
        if (!value.value) throw UsageError(std::string(command->name) + ": VALUE " + value.error);
        cli.args.value = *value.value;
    }
    // Checked before --capture or --log makes a file.
    if (command != nullptr && command->run != RunInfo && cli.session.device.empty())
        throw UsageError("no device: give --port DEVICE or --station FILE");
    const StationFile plan = other.totals->parsed() ? TotalsPlan(station, app, *other.totals, cli) : StationFile{};

    // Outlives every session: a crash or Ctrl-C leaves the records so far readable.
    const Recorders recorders(cli);
    // From here on a signal ends a command between two exchanges, never inside one.
    CatchInterrupts();
    if (other.demo->parsed()) return AfterInterrupt(recorders.Finish(RunDemo(cli.session)));
    if (other.ports->parsed())
        return AfterInterrupt(recorders.Finish(RunPorts(std::cout, station ? &*station : nullptr)));
    if (other.totals->parsed()) {
        const auto format = cli.args.json ? TotalsFormat::Json : cli.csv ? TotalsFormat::Csv : TotalsFormat::Text;
        return AfterInterrupt(recorders.Finish(RunTotals(plan, cli.session, format)));
    }
    return AfterInterrupt(recorders.Finish(RunSessionCommand(*command, cli)));
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    // Each step reaches a file or a pipe as it is printed: an interrupted
    // or killed run leaves what it did on record.
#if defined(_WIN32)
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // its C library takes _IOLBF for full buffering
#else
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
    CLI::App app{"zarvik-host: drives fuel dispensers through libZarvikTrk.so on a serial line"};
    Cli cli;
    AddGlobalOptions(app, cli);
    const auto commands = AddSessionCommands(app, cli);
    const OtherCommands other = AddOtherCommands(app, cli);
    try {
        app.parse(argc, argv);
    } catch (const VersionRequested&) {
        try {
            return RunVersion(cli.session, std::cout);
        } catch (const std::exception& e) {
            std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
            return ExitCodeOf(e);
        }
    } catch (const CLI::ParseError& e) {
        // --help prints and succeeds; every parse error is a usage error.
        if (app.exit(e) == 0) return kExitOk;
        if (const std::string hint = Suggestion(app, argc, argv); !hint.empty())
            std::cerr << "zarvik-host: " << hint << '\n';
        return kExitUsage;
    }
    try {
        return Dispatch(argc, argv, app, other, commands, cli);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        return ExitCodeOf(e);
    }
}
