#include "Wire.h"

namespace zarvik::sim::wire {

bool IsFrame(const std::uint8_t* bytes, std::size_t length) {
    if (length < kFrameOverhead || bytes[0] != kStartByte) return false;
    if (length != static_cast<std::size_t>(bytes[kOffsetLen]) + kFrameOverhead) return false;
    return Xor(bytes, kOffsetSequence, length - 2) == bytes[length - 1];
}

std::uint32_t GetLe(const std::uint8_t* bytes, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

void PutLe(std::uint8_t* bytes, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace zarvik::sim::wire
