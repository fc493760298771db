#include "port/PortList.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "PosixDevice.h"

namespace zarvik::port {
namespace {

namespace fs = std::filesystem;

// "ttyUSB10" after "ttyUSB9": by prefix, then by the number at the end.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
        const long number = digits < s.size() ? std::stol(s.substr(digits)) : -1;
        return std::pair{s.substr(0, digits), number};
    };
    return split(a) < split(b);
}

SerialPortInfo Probe(const std::string& path, std::string target) {
    SerialPortInfo info;
    info.path = path;
    info.target = std::move(target);
    PosixDevice device;
    info.openable = device.Open(path, 9600);
    info.status = info.openable ? "free" : device.LastFault().text;
    device.Close();
    const pid_t self = ::getpid();
    for (auto& holder : OpenHolders(path))
        if (holder.pid != self) info.holders.push_back(std::move(holder));
    return info;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& devices) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    std::vector<std::string> stable;
    for (const auto& entry : fs::directory_iterator(fs::path(devices) / "serial" / "by-id", ec))
        stable.push_back(entry.path().string());
    std::sort(stable.begin(), stable.end());
    for (const auto& path : stable) {
        std::error_code resolved;
        const fs::path target = fs::canonical(path, resolved);
        ports.push_back(Probe(path, resolved ? std::string() : target.string()));
    }
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(devices, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name.size() > std::string(prefix).size() &&
                std::isdigit(static_cast<unsigned char>(name[std::string(prefix).size()])))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end(), NaturalLess);
        for (const auto& name : names) ports.push_back(Probe((fs::path(devices) / name).string(), {}));
    }
    return ports;
}

}  // namespace zarvik::port
