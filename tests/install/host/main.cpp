// The smallest host: links the installed library and the installed port
// service, creates a driver over it and asks for its information string and
// a line result.
#include <zarvik/port/SerialPortManager.h>
#include <zarvik/zarvik.h>

#include <cstdio>

int main() {
    zarvik::port::SerialPortManager port;  // from the installed libzarvik-port
    zarvik::TDriver25* driver = GetVM30(0, 0, &port);
    zarvik::TShortString info{};
    driver->DriverInfo(info);
    std::printf("tiny host: driver info %d bytes, line result %d\n", info.Length, driver->GetLineResult(1));
    delete driver;
    return info.Length == 22 ? 0 : 1;
}
