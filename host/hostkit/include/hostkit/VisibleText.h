// Text that came from a dispenser, a file or another process, made safe to
// print on a terminal: every control character (C0, DEL and C1) and every
// byte that is not UTF-8 is written as \xNN, so no escape sequence, bell,
// carriage return or backspace reaches the terminal. The text is UTF-8
// already: a dispenser's code page 1251 is decoded first, so its 0x80-0x9F
// (Ђ, Ѓ, ‚, ѓ, ... letters and signs there) stay as they are.
// JSON output does not need this: the JSON writer escapes controls itself.
#pragma once

#include <string>
#include <string_view>

namespace zarvik::host {

std::string VisibleText(std::string_view utf8);

}  // namespace zarvik::host
