// Who has a device open: the processes of this machine found through /proc.
// The holder of a line's lock comes from /proc/locks (exact); the processes
// with the device open from /proc/*/fd (every process we may look at).
// Windows names no holders: there only DescribeHolder is built.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "PortExport.h"

namespace zarvik::port {

struct DeviceHolder {
    pid_t pid = 0;
    std::string name;  // the process's command name, empty when unknown
};

// The process holding a flock on path, if any.
ZARVIK_PORT_API std::optional<DeviceHolder> LockHolder(const std::string& path);
// Every process with path open (this one included), by pid.
ZARVIK_PORT_API std::vector<DeviceHolder> OpenHolders(const std::string& path);
// "process 812 (zarvik-host)"
ZARVIK_PORT_API std::string DescribeHolder(const DeviceHolder& holder);

}  // namespace zarvik::port
