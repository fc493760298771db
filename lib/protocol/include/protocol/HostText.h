// The code page of the texts the library's errors carry into the host's
// call. Our texts are written in UTF-8; a host gets them in its platform's
// convention: UTF-8 on Linux, code page 1251 on Windows, where hosts of this
// driver read error texts as ANSI Cyrillic bytes. Every zarvik::Exception the
// library raises (ESerialIO included) carries host text; a window or a tool
// that shows one turns it back with HostTextToUtf8.
#pragma once

#include <string>
#include <string_view>

namespace zarvik::protocol {

#if defined(_WIN32)
inline constexpr bool kHostTextIsCp1251 = true;
#else
inline constexpr bool kHostTextIsCp1251 = false;
#endif

std::string ToHostText(std::string_view utf8);
std::string HostTextToUtf8(std::string_view text);

}  // namespace zarvik::protocol
