#include "sim/Wire.h"

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

std::string ToCp1251(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0);
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        std::size_t n = 0;
        if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1F;
            n = 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0F;
            n = 3;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07;
            n = 4;
        }
        bool ok = n != 0 && i + n <= utf8.size();
        for (std::size_t k = 1; ok && k < n; ++k) {
            const auto b = static_cast<unsigned char>(utf8[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = cp << 6 | (b & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += n;
        if (cp >= 0x0410 && cp <= 0x044F) {
            out += static_cast<char>(cp - 0x0410 + 0xC0);
        } else if (cp == 0x0401) {
            out += static_cast<char>(0xA8);
        } else if (cp == 0x0451) {
            out += static_cast<char>(0xB8);
        } else if (cp == 0x2116) {
            out += static_cast<char>(0xB9);
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace zarvik::sim::wire
