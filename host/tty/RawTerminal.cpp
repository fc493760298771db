#include "tty/RawTerminal.h"

#include <cerrno>

namespace zarvik::tty {

std::optional<speed_t> SpeedOf(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return std::nullopt;
    }
}

int MakeRaw(int fd, speed_t speed, cc_t minBytes, const char** step) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        if (step != nullptr) *step = "tcgetattr";
        return errno;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = minBytes;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (step != nullptr) *step = "tcsetattr";
        return errno;
    }
    return 0;
}

}  // namespace zarvik::tty
