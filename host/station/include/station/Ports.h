// zarvik-host ports: the serial devices of this machine, whether each can be
// opened, and who holds it; with a station file, the line a device serves
// and its local-echo setting.
#pragma once

#include <iosfwd>

#include "station/StationFile.h"

namespace zarvik::host {

int RunPorts(std::ostream& out, const StationFile* station = nullptr);

}  // namespace zarvik::host
