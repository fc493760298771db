// gui: the station window on the station file's lines (or its line given
// with --line), else one line on --port, else an embedded simulated
// station. zarvik-host runs the program that has the window with the same
// command line (StationWindowRunner.h); where that program is missing it
// says so (a configuration error), and without the window built at all
// (a usage error).
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Output.h"
#include "Registry.h"
#include "StationWindowRunner.h"
#include "station/StationChoice.h"
#ifdef ZARVIK_HOST_WINDOW_PROGRAM
#include <unistd.h>

#include <filesystem>
#endif

namespace zarvik::host {

StationWindowRunner g_stationWindowRunner = nullptr;

namespace {

#ifdef ZARVIK_HOST_WINDOW_PROGRAM
// The window's program beside this one (build tree), else where the install
// puts it relative to the tools' folder.
std::filesystem::path WindowProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path folder = error ? std::filesystem::path(".") : self.parent_path();
    const std::filesystem::path beside = folder / kStationWindowProgram;
    if (::access(beside.c_str(), X_OK) == 0) return beside;
    return (folder / ZARVIK_HOST_WINDOW_PROGRAM / kStationWindowProgram).lexically_normal();
}

// Replaces this process with the window's program, same arguments; returns
// only when that fails.
int ExecWindowProgram(int argc, char** argv) {
    const std::filesystem::path program = WindowProgram();
    std::vector<char*> args{const_cast<char*>(program.c_str())};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    std::cout.flush();
    ::execv(program.c_str(), args.data());
    const int cause = errno;
    std::cerr << "zarvik-host: the station window cannot run: " << program.string() << ": " << std::strerror(cause)
              << (cause == ENOENT ? " (it comes with the windows' package, zarvik-gui)" : "") << "\n";
    return kExitConfig;
}
#endif

void GuiCommandOptions(CLI::App& gui, Cli& cli) {
    gui.add_flag("--simulate", cli.simulate, "serve an embedded simulated station (the default without --port)");
    CLI::Option* screenshot =
        gui.add_option("--screenshot", cli.gui.screenshot, "render the window to this PNG file and exit");
    CLI::Option* openParams = gui.add_flag("--open-params", cli.gui.openParams,
                                           "with --screenshot: picture the parameter window after its read-all pass")
                                  ->needs(screenshot);
    gui.add_option("--screenshot-after", cli.gui.screenshotAfter,
                   "with --screenshot: seconds of polling before the picture")
        ->capture_default_str()
        ->check(CLI::Range(0.5, 600.0))
        ->needs(screenshot);
    gui.add_flag("--open-calibration", cli.gui.openCalibration,
                 "with --screenshot: picture the calibration dialog opened from the parameter window's table 2")
        ->needs(screenshot)
        ->excludes(openParams);
    gui.add_option("--dispensers", cli.gui.dispensers, "without --station: dispensers shown")
        ->capture_default_str()
        ->check(CLI::Range(1, 32));
    gui.add_option("--nozzles", cli.gui.nozzles, "without --station: nozzles per dispenser")
        ->capture_default_str()
        ->check(CLI::Range(1, 6));
}

int RunGuiCommand(Invocation& in) {
    Cli& cli = in.cli;
    if (cli.simulate && (in.station || !cli.session.device.empty()))
        throw UsageError("gui: --simulate excludes --port and --station");
    if (cli.args.json) throw JsonNotTaken();
    if (in.station) {
        if (in.command.count("--dispensers") + in.command.count("--nozzles") > 0)
            throw UsageError("gui with --station: the station file names the dispensers and their nozzles");
        cli.gui.station = StationOrLine(*in.station, in.Line()).lines;
    }
    cli.gui.port = cli.session.device;
    cli.gui.line = cli.session.line;
    cli.gui.library = cli.session.library;
    cli.gui.capture = cli.capture;
    cli.gui.overwrite = cli.overwrite;
    if (g_stationWindowRunner != nullptr) return g_stationWindowRunner(cli.gui, in.argc, in.argv);
#ifdef ZARVIK_HOST_WINDOW_PROGRAM
    return ExecWindowProgram(in.argc, in.argv);
#else
    std::cerr << "zarvik-host: the station window is not built (configure with ZARVIK_WITH_GUI=ON)\n";
    return kExitUsage;
#endif
}

}  // namespace

extern const Command kGuiCommand{"gui",
                                 "the station window (an embedded simulated station without --port or --station)",
                                 GuiCommandOptions,
                                 nullptr,
                                 RunGuiCommand,
                                 false,
                                 true};

}  // namespace zarvik::host
