// zarvik-host: the reference host. Loads libZarvikTrk.so, creates the driver
// on the serial port service and calls its operations by slot.
#include <CLI/CLI.hpp>
#include <exception>
#include <functional>
#include <iostream>
#include <map>

#include "Capture.h"
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "ParamsCommands.h"
#include "Ports.h"
#include "StationGui.h"
#include "zarvik/exceptions.h"

namespace {

using namespace zarvik::host;

struct Cli {
    SessionOptions session;
    CommandArgs args;
    bool stats = false;
    std::string capture;
};

void AddDispenser(CLI::App* c, Cli& cli) {
    c->add_option("--dispenser,-d", cli.args.dispenser, "dispenser number on the line")->check(CLI::Range(1, 32));
}
void AddNozzle(CLI::App* c, Cli& cli) {
    AddDispenser(c, cli);
    c->add_option("--nozzle,-k", cli.args.nozzle, "nozzle number")->check(CLI::Range(1, 6));
}
void AddNozzles(CLI::App* c, Cli& cli) {
    AddDispenser(c, cli);
    c->add_option("--nozzles,-n", cli.args.nozzles, "how many nozzles to poll")->check(CLI::Range(1, 6));
}
void AddAddress(CLI::App* c, Cli& cli) {
    c->add_option("--address,-a", cli.args.address, "bus address")->check(CLI::Range(1, 255));
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    CLI::App app{"zarvik-host: drives fuel dispensers through libZarvikTrk.so on a serial line"};
    app.require_subcommand(1);
    app.fallthrough();
    Cli cli;
    app.add_option("--port,-p", cli.session.device, "serial device or pseudo-terminal (COM1 on Windows)");
    app.add_option("--line,-l", cli.session.line, "line number")->check(CLI::Range(1, 32));
    app.add_flag("--trace", cli.session.trace, "print every frame: '> ' sent, '< ' received");
    app.add_option("--library", cli.session.library, "driver library (default: " + DefaultLibraryPath() + ")");
    app.add_option("--options", cli.session.options, "options value for GetVM30 (128: clear before a price change)");
    app.add_flag("--stats", cli.stats, "print the line statistics after the command");
    app.add_option("--capture", cli.capture,
                   "write every frame on the line to this pcap file (open it in Wireshark with "
                   "tools/wireshark/zarvik.lua, or replay it with zarvik-sim --replay)");

    using Runner = std::function<int(Session&)>;
    std::map<CLI::App*, Runner> runners;
    const auto command = [&](const char* name, const char* help, Runner run) {
        CLI::App* c = app.add_subcommand(name, help);
        runners[c] = std::move(run);
        return c;
    };
    auto& a = cli.args;

    command("info", "driver information and capabilities", [](Session& s) { return RunInfo(s); });
    command("open", "open the line", [](Session& s) { return RunOpen(s); });
    AddNozzles(command("status", "poll a dispenser's nozzles", [&](Session& s) { return RunStatus(s, a); }), cli);
    AddNozzle(command("start", "start a nozzle", [&](Session& s) { return RunStart(s, a); }), cli);
    AddNozzle(command("stop", "stop a nozzle", [&](Session& s) { return RunStop(s, a); }), cli);
    AddNozzle(command("reset", "reset a dispenser and stop the nozzle", [&](Session& s) { return RunReset(s, a); }),
              cli);
    for (auto [name, help, run] : {std::tuple{"dose-litres", "preset a dose in litres", &RunDoseLitres},
                                   std::tuple{"dose-money", "preset a dose in money", &RunDoseMoney},
                                   std::tuple{"price", "set a nozzle's price", &RunPrice}}) {
        CLI::App* c = command(name, help, [&a, run = run](Session& s) { return run(s, a); });
        AddNozzle(c, cli);
        c->add_option("VALUE", a.value, "the value")->required()->check(CLI::NonNegativeNumber);
    }
    AddNozzle(command("total", "read a nozzle's total", [&](Session& s) { return RunTotal(s, a); }), cli);
    {
        CLI::App* c = command("param-read", "read one parameter", [&](Session& s) { return RunParamRead(s, a); });
        AddAddress(c, cli);
        c->add_option("--code,-c", a.code, "parameter code 1TTRRFF")->required();
    }
    ParamsArgs params;
    AddParamWriteOptions(*command("param-write", "write one parameter, checked against its field's description",
                                  [&](Session& s) { return RunParamWrite(s, params); }),
                         params);
    AddAddress(command("tables", "all table and field descriptions", [&](Session& s) { return RunTables(s, a); }), cli);
    {
        CLI::App* c = command("watch", "live status until Ctrl-C", [&](Session& s) { return RunWatch(s, a); });
        AddNozzles(c, cli);
        a.count = 0;
        c->add_option("--count", a.count, "stop after this many polls (0: until Ctrl-C)");
    }
    command("scan", "which bus addresses answer", [](Session& s) { return RunScan(s); });
    {
        CLI::App* c =
            command("stats", "poll and print the line statistics", [&](Session& s) { return RunStats(s, a); });
        AddNozzles(c, cli);
        c->add_option("--polls", a.count, "how many polls")->check(CLI::Range(1, 100000));
    }
    AddParamsDumpOptions(*command("params-dump", "every table, field and value of a row as JSON, complete or failed",
                                  [&](Session& s) { return RunParamsDump(s, params); }),
                         params);
    AddParamsRestoreOptions(
        *command("params-restore", "check a dump against the dispenser and show the differences; --apply writes them",
                 [&](Session& s) { return RunParamsRestore(s, params); }),
        params);
    CLI::App* ports = app.add_subcommand("ports", "the serial devices present, whether each opens, who holds it");
    CLI::App* demo = app.add_subcommand("demo", "a delivery on an embedded simulated station");
    GuiOptions guiOptions;
    bool simulate = false;
    CLI::App* gui = app.add_subcommand("gui", "the station window (an embedded simulated station without --port)");
    gui->add_flag("--simulate", simulate, "serve an embedded simulated station (the default without --port)");
    CLI::Option* screenshot =
        gui->add_option("--screenshot", guiOptions.screenshot, "render the window to this PNG file and exit");
    CLI::Option* openParams = gui->add_flag("--open-params", guiOptions.openParams,
                                            "with --screenshot: picture the parameter window after its read-all pass")
                                  ->needs(screenshot);
    gui->add_flag("--open-calibration", guiOptions.openCalibration,
                  "with --screenshot: picture the calibration dialog opened from the parameter window's table 2")
        ->needs(screenshot)
        ->excludes(openParams);
    gui->add_option("--dispensers", guiOptions.dispensers, "dispensers shown")
        ->capture_default_str()
        ->check(CLI::Range(1, 32));
    gui->add_option("--nozzles", guiOptions.nozzles, "nozzles per dispenser")
        ->capture_default_str()
        ->check(CLI::Range(1, 6));

    // The stats command's default poll count differs from watch's.
    a.count = 0;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    // Outlives every session: a crash or Ctrl-C leaves the records so far readable.
    std::unique_ptr<zarvik::capture::CaptureWriter> capture;
    const auto finish = [&capture](int code) {
        if (capture && !CheckCapture(*capture, std::cerr) && code == 0) return 1;
        return code;
    };
    try {
        if (gui->parsed()) {
#ifdef ZARVIK_HOST_GUI
            if (simulate && !cli.session.device.empty()) {
                std::cerr << "zarvik-host gui: --simulate and --port exclude each other\n";
                return kExitUsage;
            }
            guiOptions.port = cli.session.device;
            guiOptions.line = cli.session.line;
            guiOptions.library = cli.session.library;
            guiOptions.capture = cli.capture;
            return RunStationGui(guiOptions, argc, argv);
#else
            std::cerr << "zarvik-host: the station window is not built (configure with ZARVIK_WITH_GUI=ON)\n";
            return 2;
#endif
        }
        if (!cli.capture.empty()) {
            capture = std::make_unique<zarvik::capture::CaptureWriter>(cli.capture);
            cli.session.capture = capture.get();
        }
        if (demo->parsed()) return finish(RunDemo(cli.session));
        if (ports->parsed()) return finish(RunPorts(std::cout));
        for (auto& [sub, run] : runners) {
            if (!sub->parsed()) continue;
            if (sub->get_name() == "stats" && a.count <= 0) a.count = 10;
            Session s(cli.session);
            // Errors are caught while the library is loaded: their text lives there.
            try {
                const int code = run(s);
                if (cli.stats) PrintStatistics(s, std::cout);
                return finish(code);
            } catch (const std::exception& e) {
                std::cerr << "zarvik-host: " << ErrorText(e) << s.FaultCause() << '\n';
                if (cli.stats) PrintStatistics(s, std::cout);
                return finish(1);
            }
        }
    } catch (const zarvik::Exception& e) {
        std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        return finish(1);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        return finish(1);
    }
    return 0;
}
