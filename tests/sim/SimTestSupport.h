// Frame building and hex printing shared by the simulator tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarvik::sim::testing {

using Bytes = std::vector<std::uint8_t>;

// Request frame of payload (address, command, data) with a sequence number.
Bytes Frame(std::uint8_t sequence, const Bytes& payload);
// "02 00 01 ..." upper-case hex.
std::string Hex(const Bytes& bytes);
Bytes FromHex(const std::string& hex);
std::uint32_t Le(const Bytes& bytes, std::size_t offset, std::size_t width);

}  // namespace zarvik::sim::testing
