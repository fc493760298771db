#include "port/DeviceHolders.h"

namespace zarvik::port {

std::string DescribeHolder(const DeviceHolder& holder) {
    std::string text = "process " + std::to_string(holder.pid);
    if (!holder.name.empty()) text += " (" + holder.name + ")";
    return text;
}

}  // namespace zarvik::port
