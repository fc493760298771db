// The serial devices present on this machine, for a host to offer: the
// stable /dev/serial/by-id names first, then ttyS*, ttyUSB* and ttyACM* in
// natural order. Each is tried (opened raw and exclusively, then closed at
// once) and the processes that have it open are named.
#pragma once

#include <string>
#include <vector>

#include "DeviceHolders.h"
#include "PortExport.h"

namespace zarvik::port {

struct SerialPortInfo {
    std::string path;
    std::string target;  // where a by-id name leads; empty for the kernel names
    bool openable = false;
    std::string status;                 // "free", or why it cannot be opened ("busy: held by ...", ...)
    std::vector<DeviceHolder> holders;  // other processes with it open
};

// devices: the folder to look in (/dev; tests give a scratch folder).
ZARVIK_PORT_API std::vector<SerialPortInfo> ListSerialPorts(const std::string& devices = "/dev");

}  // namespace zarvik::port
