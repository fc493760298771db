// Little-endian fields of 1 to 4 bytes, least significant byte first: the
// counters, amounts, limits and parameter values on the wire.
//
// ReadLE and WriteLE work on `width` bytes the caller knows are there (a
// request being built, a field a decoder has checked). FieldAt is the read
// for a received buffer: it is bounded by the received length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zarvik::protocol {

inline constexpr std::size_t kMaxFieldWidth = 4;

// The unsigned value of bytes[0..width), width 0..4 (0 gives 0).
constexpr std::uint32_t ReadLE(const std::uint8_t* bytes, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

// The same for a fixed 4-byte field (counters), written so that the compiler
// makes it one load.
constexpr std::uint32_t ReadLE32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Writes the low `width` bytes of value (width 0..4) to bytes[0..width).
constexpr void WriteLE(std::uint8_t* bytes, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The field of `width` bytes (1..4) at `offset` of a received buffer of
// `length` bytes; nullopt when the width is out of range or any byte of the
// field lies at or past `length`.
constexpr std::optional<std::uint32_t> FieldAt(const std::uint8_t* bytes, std::size_t length, std::size_t offset,
                                               std::size_t width) {
    if (width < 1 || width > kMaxFieldWidth || offset > length || length - offset < width) return std::nullopt;
    return ReadLE(bytes + offset, width);
}

}  // namespace zarvik::protocol
