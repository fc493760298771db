// Why a device could not be opened, or failed, in words a service engineer
// can act on: "no such device", "permission denied: the user is not in the
// group 'dialout' that owns the device", "busy: held by process 812
// (zarvik-host)", "not a terminal", "is a directory", "unsupported baud rate
// 12345". The line's error code for the driver stays what it was (301, 302);
// these texts are what the host shows beside it.
#pragma once

#include <cstdint>
#include <string>

namespace zarvik::port {

// error: the errno of the failed open (EINVAL: the rate was refused).
std::string DescribeOpenFault(const std::string& path, int error, std::int32_t baud);
// error: the errno of a failed read, write or wait; 0 for a hang-up.
std::string DescribeIoFault(int error);

}  // namespace zarvik::port
