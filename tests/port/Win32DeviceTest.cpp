// The Win32 back end where no COM port is at hand (under Wine in the tests):
// device names, the rates a line takes, and the causes of a failed open with
// the system's own text beside our words. Exchanges over a real COM port are
// tested end to end (tests/windows: zarvik-host.exe on COM1).
#include <gtest/gtest.h>
#include <windows.h>

#include "Win32Device.h"

namespace zarvik::testing {
namespace {

using port::Win32Device;

TEST(Win32Device, DeviceNames) {
    struct Case {
        const char* given;
        const char* opened;
    };
    for (const Case c : {Case{"COM1", "\\\\.\\COM1"}, Case{"com12", "\\\\.\\com12"},
                         Case{"\\\\.\\COM12", "\\\\.\\COM12"}, Case{"\\\\?\\COM3", "\\\\?\\COM3"}})
        EXPECT_EQ(port::Win32DeviceName(c.given), c.opened) << c.given;
}

TEST(Win32Device, RatesALineTakes) {
    for (const std::int32_t baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400})
        EXPECT_TRUE(port::IsSupportedBaud(baud)) << baud;
    for (const std::int32_t baud : {0, -9600, 300, 9601, 14400, 460800})
        EXPECT_FALSE(port::IsSupportedBaud(baud)) << baud;
}

TEST(Win32Device, FaultTextsCarryOurWordsAndTheSystemsText) {
    struct Case {
        std::uint32_t error;
        const char* starts;
    };
    for (const Case c : {Case{ERROR_FILE_NOT_FOUND, "no such device (Windows error 2: "},
                         Case{ERROR_ACCESS_DENIED, "busy: held by another program (Windows error 5: "},
                         Case{ERROR_INVALID_FUNCTION, "not a serial port (Windows error 1: "},
                         Case{ERROR_SEM_TIMEOUT, "write timed out: the device takes no output (Windows error 121: "},
                         Case{ERROR_NOT_ENOUGH_MEMORY, "Windows error 8: "}}) {
        const std::string text = port::DescribeWin32Fault(c.error);
        EXPECT_EQ(text.rfind(c.starts, 0), 0u) << text;
        EXPECT_GT(text.size(), std::string(c.starts).size() + 2) << "the system's own text follows: " << text;
    }
}

TEST(Win32Device, OpenFailsWithItsCause) {
    Win32Device device;
    EXPECT_FALSE(device.Open("COM199", 9600));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.LastFault().error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(device.LastFault().text.rfind("no such device (Windows error 2", 0), 0u) << device.LastFault().text;

    // Refused before the device is touched: never replaced by another rate.
    EXPECT_FALSE(device.Open("COM1", 14400));
    EXPECT_EQ(device.LastFault().text, "unsupported baud rate 14400");
    EXPECT_FALSE(device.IsOpen());
}

}  // namespace
}  // namespace zarvik::testing
