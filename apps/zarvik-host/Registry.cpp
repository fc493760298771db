#include "Registry.h"

#include <CLI/CLI.hpp>

namespace zarvik::host {

// Each defined in the command's own file.
extern const Command kInfoCommand, kOpenCommand, kStatusCommand, kStartCommand, kStopCommand, kResetCommand,
    kDoseLitresCommand, kDoseMoneyCommand, kPriceCommand, kTotalCommand, kParamReadCommand, kParamWriteCommand,
    kTablesCommand, kWatchCommand, kScanCommand, kStatsCommand, kParamsDumpCommand, kParamsRestoreCommand,
    kTotalsCommand, kPortsCommand, kDemoCommand, kGuiCommand;

namespace {

const Command* const kCommands[] = {
    &kInfoCommand,      &kOpenCommand,       &kStatusCommand,        &kStartCommand,  &kStopCommand,
    &kResetCommand,     &kDoseLitresCommand, &kDoseMoneyCommand,     &kPriceCommand,  &kTotalCommand,
    &kParamReadCommand, &kParamWriteCommand, &kTablesCommand,        &kWatchCommand,  &kScanCommand,
    &kStatsCommand,     &kParamsDumpCommand, &kParamsRestoreCommand, &kTotalsCommand, &kPortsCommand,
    &kDemoCommand,      &kGuiCommand,
};

}  // namespace

std::span<const Command* const> AllCommands() { return kCommands; }

std::optional<int> Invocation::Line() const {
    if (app.count("--line") == 0) return std::nullopt;
    return cli.session.line;
}

}  // namespace zarvik::host
