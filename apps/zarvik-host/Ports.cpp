// ports: the serial devices present, whether each opens, who holds it.
#include "station/Ports.h"

#include <iostream>

#include "Registry.h"

namespace zarvik::host {
namespace {

int Run(Invocation& in) { return RunPorts(std::cout, in.station ? &*in.station : nullptr); }

}  // namespace

extern const Command kPortsCommand{
    "ports", "the serial devices present, whether each opens, who holds it", nullptr, nullptr, Run, false, false};

}  // namespace zarvik::host
