// The host's commands. Each command's file registers it here: its name and
// help, the options it takes, what it checks before anything is opened or
// written, and what it runs. Main.cpp parses the command line and runs the
// one command given, always the same way (Dispatch there).
#pragma once

#include <optional>
#include <span>

#include "Cli.h"
#include "station/StationFile.h"

namespace CLI {
class App;
}

namespace zarvik::host {

// The command line as parsed, handed to the command given.
struct Invocation {
    const CLI::App& app;      // the whole command line (its global options)
    const CLI::App& command;  // the command given
    Cli& cli;
    const std::optional<StationFile>& station;  // --station FILE, read and checked
    int argc;
    char** argv;

    // --line when it was given.
    std::optional<int> Line() const;
};

struct Command {
    const char* name;
    const char* help;
    void (*options)(CLI::App& command, Cli& cli);  // null: none
    void (*check)(Invocation& in);                 // before --capture or --log makes a file; null: none
    int (*run)(Invocation& in);                    // the exit code (hostkit/ExitCodes.h)
    bool json;                                     // takes --json
    bool alone;                                    // runs without --capture/--log files and interrupt handling (gui)
};

// Every command, in the order --help lists them.
std::span<const Command* const> AllCommands();

}  // namespace zarvik::host
