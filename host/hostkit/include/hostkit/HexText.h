// Bytes as the trace, the exchange log and the host's messages show them:
// upper-case hex separated by blanks ("02 80 01 03 9F 00 1D").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarvik::host {

std::string Hex(const std::uint8_t* bytes, std::size_t length);

}  // namespace zarvik::host
