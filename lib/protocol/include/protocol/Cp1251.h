// Code page 1251 <-> UTF-8, for names the dispensers send and the driver
// information text. Bytes below 0x80 are ASCII; 0x98, the one unassigned
// byte, becomes U+FFFD. Characters with no 1251 byte, and each byte of
// broken UTF-8, become '?'.
//
// The conversions write into a buffer the caller owns: whole characters
// only, stopping at the first one that does not fit, and return the number
// of bytes the whole text needs (more than `capacity` means it was cut
// short). A UTF-8 text needs at most 3 bytes per code page byte; a code page
// text at most one byte per UTF-8 byte. The string forms are for names that
// end up in a string anyway (windows, host, simulator): they allocate.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvik::cp1251 {

inline constexpr std::size_t kMaxUtf8PerByte = 3;

std::size_t ToUtf8(std::string_view cp1251, char* out, std::size_t capacity);
std::size_t FromUtf8(std::string_view utf8, char* out, std::size_t capacity);

std::string ToUtf8(std::string_view cp1251);
std::string FromUtf8(std::string_view utf8);

}  // namespace zarvik::cp1251
