// zarvik-host: the reference host. Loads libZarvikTrk.so, creates the driver
// on the serial port service and calls its operations by slot.
//
// main() parses the command line and runs the one command given: every
// command registers its options and its run in Registry.h, and all of them
// go the same way (Dispatch). Exit codes: hostkit/ExitCodes.h.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <optional>

#include "Output.h"
#include "Recorders.h"
#include "Registry.h"
#include "Service.h"
#include "Suggest.h"
#include "Version.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"

namespace {

using namespace zarvik::host;

// Thrown by --version's callback, before the parser asks for a command.
struct VersionRequested {};

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
    AddServiceOptions(app, cli);
    app.add_flag_callback(
        "--version", [] { throw VersionRequested{}; }, "the tool's, the library's and the driver's version, then exit");
}

using Parsed = std::map<const CLI::App*, const Command*>;

Parsed AddCommands(CLI::App& app, Cli& cli) {
    Parsed commands;
    for (const Command* command : AllCommands()) {
        CLI::App* c = app.add_subcommand(command->name, command->help);
        if (command->options != nullptr) command->options(*c, cli);
        commands[c] = command;
    }
    return commands;
}

// The station file is read first; with --service the command goes through
// the station service (Service.h); a command that runs alone (gui) runs
// then. Every other one takes --json or refuses it, checks what it needs
// before a capture or log file is made, and runs with the recorders and
// interrupts caught: a signal ends it between two exchanges, never inside one.
int Dispatch(int argc, char** argv, const CLI::App& app, const Parsed& commands, Cli& cli) {
    const std::optional<StationFile> station =
        cli.station.empty() ? std::nullopt : std::optional<StationFile>(ReadStationFile(cli.station));
    for (const auto& [sub, command] : commands) {
        if (!sub->parsed()) continue;
        Invocation in{app, *sub, cli, station, argc, argv};
        if (const std::optional<int> code = RunThroughService(in, *command)) return *code;
        if (command->alone) return command->run(in);
        if (cli.args.json && !command->json) throw JsonNotTaken();
        if (command->check != nullptr) command->check(in);
        const Recorders recorders(cli);
        CatchInterrupts();
        return AfterInterrupt(recorders.Finish(command->run(in)));
    }
    throw UsageError("no command given");
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
    const Parsed commands = AddCommands(app, cli);
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
        return Dispatch(argc, argv, app, commands, cli);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        return ExitCodeOf(e);
    }
}
