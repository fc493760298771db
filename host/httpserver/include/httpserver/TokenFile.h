// The bearer tokens the service accepts, one a line:
//
//   # comments and blank lines are ignored
//   read    TOKEN
//   control TOKEN
//
// A token is 16 to 256 visible ASCII characters, each token on one line
// only (so no token has two roles). The file is refused when
// others may read or write it (mode & 0007), when it is not a regular file,
// or when a line is malformed; the error names the file, the line and the cause.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/HttpTypes.h"

namespace zarvik::http {

inline constexpr std::size_t kMinTokenLength = 16;
inline constexpr std::size_t kMaxTokenLength = 256;

class TokenFile {
public:
    // Throws zarvik::host::HostError (configuration, exit code 4) with the cause.
    static TokenFile Read(const std::string& path);
    // The same for text already read (no permission check); SOURCE names it.
    static TokenFile Parse(std::string_view text, const std::string& source);

    // The role of PRESENTED, None when it is no known token. Compares against
    // every token over the same number of bytes whatever matches, so the time
    // taken tells nothing about which bytes of which token were right.
    Role Check(std::string_view presented) const;
    std::size_t Size() const { return tokens_.size(); }

private:
    struct Entry {
        std::array<unsigned char, kMaxTokenLength> bytes{};  // zero-padded
        std::size_t length = 0;
        Role role = Role::None;
    };
    std::vector<Entry> tokens_;
};

}  // namespace zarvik::http
