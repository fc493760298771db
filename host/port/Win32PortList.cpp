// The serial ports of a Windows machine: COM1 .. COM256, each tried (opened
// exclusively at 9600, then closed at once). A name the system does not know
// is left out; one that exists but will not open is listed with the cause.
// Windows does not tell who holds a port: `holders` stays empty.
#include <windows.h>

#include "Win32Device.h"
#include "port/PortList.h"

namespace zarvik::port {

std::vector<SerialPortInfo> ListSerialPorts(const std::string&) {
    constexpr int kHighestPort = 256;
    std::vector<SerialPortInfo> ports;
    for (int n = 1; n <= kHighestPort; ++n) {
        Win32Device device;
        SerialPortInfo info;
        info.path = "COM" + std::to_string(n);
        info.openable = device.Open(info.path, 9600);
        if (!info.openable) {
            const int error = device.LastFault().error;
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
        }
        info.status = info.openable ? "free" : device.LastFault().text;
        device.Close();
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace zarvik::port
