// Thin POSIX terminal layer: open a device raw, write a frame in full, throw
// away pending input. termios directly, so any tty works, pseudo-terminals
// included. Every call retries on EINTR; none blocks past its deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/SerialDevice.h"

namespace zarvik::port {

// True for the rates a line can be opened at (1200 .. 230400).
bool IsSupportedBaud(std::int32_t baud);

// Opens path non-blocking, raw 8N1 at baud, no flow control, modem lines
// ignored, pending I/O discarded, and owned exclusively: flock(LOCK_EX) on the
// descriptor (another process gets EBUSY) plus TIOCEXCL. Returns the
// descriptor, or -errno: -EINVAL for an unsupported rate (nothing opened),
// -EBUSY when another open file holds the lock.
int OpenRawTerminal(const std::string& path, std::int32_t baud);
// Gives up the exclusive use OpenRawTerminal took, then closes. The mark
// belongs to the terminal, not the descriptor: on a pseudo-terminal whose
// other end stays open it would otherwise outlive us and refuse every later
// open by anyone but root.
void CloseTerminal(int fd);

// Writes all bytes, waiting for room on EAGAIN until the deadline.
IoStatus WriteAll(int fd, const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline);

// A read of whatever is queued, then an input-only flush (never touches
// unsent output). Returns the number of bytes thrown away by the read, or -1
// when the device failed.
long DiscardInput(int fd);

// Waits for input until the time: Readable, Timeout, or DeviceError (also a
// hang-up with nothing left to read).
WaitResult WaitReadable(int fd, Clock::time_point until);

// Reads what is available without waiting, at most capacity bytes.
// Returns the count (0 when nothing is there) or -1 on a device failure,
// end of file (a hung-up device) included.
long ReadAvailable(int fd, std::uint8_t* buffer, std::size_t capacity);

}  // namespace zarvik::port
