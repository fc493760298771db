// What a window shows of an error, and how the windows raise their own.
// Every zarvik::Exception of the library carries its text in the host's code
// page (protocol/HostText.h); other exceptions (the standard library's) carry
// plain text.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace zarvik {

// The error's text in UTF-8.
std::string ErrorText(const std::exception& error);

// zarvik::Exception with `text` (UTF-8) in the host's code page.
[[noreturn]] void RaiseWindowError(std::string_view text);

}  // namespace zarvik
