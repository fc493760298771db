#include "station/Ports.h"

#include <ostream>

#include "port/PortList.h"
#include "port/SerialPortManager.h"

namespace zarvik::host {

int RunPorts(std::ostream& out, const StationFile* station) {
    const auto ports = port::ListSerialPorts();
    for (const auto& p : ports) {
        out << p.path;
        if (!p.target.empty()) out << " -> " << p.target;
        out << ": " << p.status;
        if (!p.holders.empty()) {
            out << " (open in";
            for (const auto& h : p.holders) out << ' ' << port::DescribeHolder(h);
            out << ')';
        }
        for (const StationLine& l : station != nullptr ? station->lines : std::vector<StationLine>{})
            if (l.device == p.path || (!p.target.empty() && l.device == p.target))
                out << "; line " << l.line << ", local echo " << port::LocalEchoName(l.settings.localEcho);
        out << '\n';
    }
    if (ports.empty()) out << "no serial devices found\n";
    return 0;
}

}  // namespace zarvik::host
