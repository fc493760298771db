// Raw 8N1 settings for a POSIX terminal, pseudo-terminals included: no byte
// translated, no echo, no signals, no flow control, modem lines ignored.
// Shared by the serial port service and the simulator's serial endpoint,
// neither of which depends on the other.
#pragma once

#include <termios.h>

#include <optional>

namespace zarvik::tty {

// The termios speed of a baud rate, or nullopt for one we do not support
// (1200 to 230400).
std::optional<speed_t> SpeedOf(int baud);

// Puts fd into raw 8N1 at `speed`; a read returns once `minBytes` bytes are
// there (VMIN; VTIME 0). Returns 0, or the errno of the call that failed,
// whose name `step` then points to ("tcgetattr" or "tcsetattr").
int MakeRaw(int fd, speed_t speed, cc_t minBytes, const char** step = nullptr);

}  // namespace zarvik::tty
