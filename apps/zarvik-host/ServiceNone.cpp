// Where the station service's client is not built (Windows): no --service.
#include "Service.h"

namespace zarvik::host {

void AddServiceOptions(CLI::App&, Cli&) {}

std::optional<int> RunThroughService(Invocation&, const Command&) { return std::nullopt; }

}  // namespace zarvik::host
