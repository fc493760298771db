// Code page 1251 <-> UTF-8, for names the dispensers send and the driver
// information text. Bytes below 0x80 are ASCII; 0x98, the one unassigned
// byte, becomes U+FFFD. Characters with no 1251 byte, and each byte of
// broken UTF-8, become '?'.
#pragma once

#include <string>
#include <string_view>

namespace zarvik::cp1251 {

std::string ToUtf8(std::string_view cp1251);
std::string FromUtf8(std::string_view utf8);

}  // namespace zarvik::cp1251
