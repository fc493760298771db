// zarvik-host --service URL: the read commands (status, totals, stats,
// tables) go through a running station service (zarvikd) instead of opening
// the line, which the service holds. They print what they print on the
// line itself, from the service's live state; every other command, and the
// options that concern a line of this program's own (--trace, --capture,
// --log, --stats, --library, --options), are refused with --service.
// The bearer token comes from --token-file FILE or the file named by
// ZARVIK_SERVICE_TOKEN_FILE, never from the command line; an https://
// service's certificate is checked against the system's authorities or the
// one --ca-file names. Linux only.
#pragma once

#include <optional>

#include "Registry.h"

namespace zarvik::host {

// --service and --token-file (none where the service client is not built).
void AddServiceOptions(CLI::App& app, Cli& cli);

// With --service: runs the command given through the service and returns
// its exit code (a refused command or option throws a usage error).
// Without: nothing, and the command runs on its line.
std::optional<int> RunThroughService(Invocation& in, const Command& command);

}  // namespace zarvik::host
