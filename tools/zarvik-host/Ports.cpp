#include "Ports.h"

#include <ostream>

#include "port/PortList.h"

namespace zarvik::host {

int RunPorts(std::ostream& out) {
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
        out << '\n';
    }
    if (ports.empty()) out << "no serial devices found\n";
    return 0;
}

}  // namespace zarvik::host
