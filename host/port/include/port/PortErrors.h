// Error codes the serial port service stores for a line besides the reply
// checker's own (222, 223, 246), and their texts.
//
// A transfer that ends with one of these codes (but kErrorRefused) is a transport failure:
// WaitTransfer returns the code and GetLineError reports it.
#pragma once

#include <cstdint>

#include "PortExport.h"

namespace zarvik::port {

inline constexpr std::int32_t kErrorTimeout = 300;       // no reply byte before the response deadline
inline constexpr std::int32_t kErrorDevice = 301;        // read/write failed or the device hung up
inline constexpr std::int32_t kErrorNotOpen = 302;       // the line has no open device and cannot be opened
inline constexpr std::int32_t kErrorNoSuchLine = 303;    // line number outside 1..32
inline constexpr std::int32_t kErrorNoChecker = 304;     // no reply checker registered for the line
inline constexpr std::int32_t kErrorNoDevicePath = 305;  // OpenLine on a line the host mapped to no device
// Not a transport failure: the reply answered the request and refused it
// (result byte nonzero); the line state is then kLineStateRefused (4).
inline constexpr std::int32_t kErrorRefused = 306;

// A short UTF-8 Russian text for a line error code (reply checker codes
// included); "ошибка N" for codes this service does not know.
ZARVIK_PORT_API const char* DescribeLineError(std::int32_t code);

}  // namespace zarvik::port
