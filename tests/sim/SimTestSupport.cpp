#include "SimTestSupport.h"

#include <cstdio>
#include <sstream>

namespace zarvik::sim::testing {

Bytes Frame(std::uint8_t sequence, const Bytes& payload) {
    Bytes f(payload.size() + 4, 0);
    f[0] = 0x02;
    f[1] = sequence;
    f[2] = payload.at(0);
    f[3] = static_cast<std::uint8_t>(payload.size() - 1);
    for (std::size_t i = 1; i < payload.size(); ++i) f[3 + i] = payload[i];
    std::uint8_t x = 0;
    for (std::size_t i = 1; i + 1 < f.size(); ++i) x ^= f[i];
    f.back() = x;
    return f;
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += buf;
    }
    return out;
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    std::istringstream in(hex);
    unsigned v = 0;
    while (in >> std::hex >> v) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::uint32_t Le(const Bytes& bytes, std::size_t offset, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = v << 8 | bytes.at(offset + i);
    return v;
}

}  // namespace zarvik::sim::testing
