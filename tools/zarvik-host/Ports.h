// zarvik-host ports: the serial devices of this machine, whether each can be
// opened, and who holds it.
#pragma once

#include <iosfwd>

namespace zarvik::host {

int RunPorts(std::ostream& out);

}  // namespace zarvik::host
