// The port service's hold on a terminal ends with the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "SimulatedLine.h"
#include "sim/SerialEndpoint.h"

namespace zarvik::testing {
namespace {

int Exclusive(int fd) {
    int exclusive = -1;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 ? exclusive : -1;
}

// The simulator keeps its side of the pseudo-terminal open between host
// sessions, so a mark of exclusive use left behind would refuse the next
// host (anyone but root) the line.
TEST(SerialLine, ClosedLine_GivesUpExclusiveUseOfTheTerminal) {
    sim::Station station(QuickStation());
    sim::SerialEndpoint endpoint(station, {.pacing = false});
    const std::string path = endpoint.OpenPty();
    endpoint.Start();
    const int probe = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);

    port::SerialPortManager port;
    port.SetDevice(1, path);
    ASSERT_EQ(port.OpenLine(1, 3, 9600, 64, 3, 0), 0);
    EXPECT_EQ(Exclusive(probe), 1) << "a second master on the wire is refused while the line is open";
    port.CloseLine(1);
    EXPECT_EQ(Exclusive(probe), 0);
    ::close(probe);
}

}  // namespace
}  // namespace zarvik::testing
