// A word of a command line printed for pasting into a POSIX shell: as it is
// when it holds only characters no shell gives a meaning to, otherwise in
// single quotes (a quote inside as '\'').
#pragma once

#include <string>
#include <string_view>

namespace zarvik::host {

inline std::string ShellWord(std::string_view word) {
    constexpr std::string_view kPlain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=,+@%";
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string_view::npos) return std::string(word);
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace zarvik::host
