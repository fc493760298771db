// ports: the serial devices present, whether each opens, who holds it.
#include "station/Ports.h"

#include <iostream>

#include "Registry.h"

namespace zarvik::host {
namespace {

int RunPortsCommand(Invocation& in) { return RunPorts(std::cout, in.station ? &*in.station : nullptr); }

}  // namespace

extern const Command kPortsCommand{
    "ports", "the serial devices present, whether each opens, who holds it", nullptr, nullptr, RunPortsCommand, false,
    false};

}  // namespace zarvik::host
