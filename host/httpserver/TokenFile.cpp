#include "httpserver/TokenFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"

namespace zarvik::http {
namespace {

constexpr std::size_t kTokenFileLimit = 1 << 20;

[[noreturn]] void RefuseFile(const std::string& source, const std::string& cause) {
    throw host::ConfigError("token file " + host::VisibleText(source) + ": " + cause);
}

bool IsVisibleAscii(std::string_view text) {
    for (const char c : text)
        if (c <= 0x20 || c >= 0x7F) return false;
    return true;
}

// Reads the file through one descriptor, so the mode checked is the mode of the file read.
std::string ReadPrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) RefuseFile(path, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat status {};
    std::string cause;
    if (::fstat(fd, &status) != 0) {
        cause = std::string("cannot be read: ") + std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        cause = "is not a regular file";
    } else if ((status.st_mode & 0007) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        cause = std::string("others may read or write it (mode ") + mode +
                "); allow the owner and group only (chmod o-rwx)";
    } else if (static_cast<std::size_t>(status.st_size) > kTokenFileLimit) {
        cause = "is larger than " + std::to_string(kTokenFileLimit) + " bytes";
    }
    std::string text;
    char buffer[4096];
    while (cause.empty()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) cause = std::string("cannot be read: ") + std::strerror(errno);
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kTokenFileLimit) cause = "is larger than " + std::to_string(kTokenFileLimit) + " bytes";
    }
    ::close(fd);
    if (!cause.empty()) RefuseFile(path, cause);
    return text;
}

}  // namespace

TokenFile TokenFile::Read(const std::string& path) { return Parse(ReadPrivateFile(path), path); }

TokenFile TokenFile::Parse(std::string_view text, const std::string& source) {
    TokenFile file;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        line = line.substr(first);
        const auto gap = line.find_first_of(" \t");
        const auto tokenStart = gap == std::string_view::npos ? gap : line.find_first_not_of(" \t", gap);
        if (tokenStart == std::string_view::npos)
            RefuseFile(source, where + "expected \"read TOKEN\" or \"control TOKEN\"");
        const std::string_view roleWord = line.substr(0, gap);
        std::string_view token = line.substr(tokenStart);
        token = token.substr(0, token.find_last_not_of(" \t") + 1);
        Entry entry;
        if (roleWord == "read")
            entry.role = Role::Read;
        else if (roleWord == "control")
            entry.role = Role::Control;
        else
            RefuseFile(source, where + "the role must be \"read\" or \"control\"");
        if (token.size() < kMinTokenLength || token.size() > kMaxTokenLength || !IsVisibleAscii(token))
            RefuseFile(source, where + "a token is " + std::to_string(kMinTokenLength) + " to " +
                                   std::to_string(kMaxTokenLength) + " visible ASCII characters, without spaces");
        std::memcpy(entry.bytes.data(), token.data(), token.size());
        entry.length = token.size();
        // (Read once at start: this comparison need not be constant time.)
        for (const Entry& earlier : file.tokens_)
            if (earlier.length == entry.length && earlier.bytes == entry.bytes)
                RefuseFile(source, where + "the same token as an earlier line");
        file.tokens_.push_back(entry);
    }
    if (file.tokens_.empty()) RefuseFile(source, "holds no token");
    return file;
}

Role TokenFile::Check(std::string_view presented) const {
    // The presented token is padded (or cut) to the longest length a token may
    // have, and every token is compared over all of it, without branching on
    // the bytes. A longer one still costs the same and matches nothing.
    std::array<unsigned char, kMaxTokenLength> padded{};
    const std::size_t length = presented.size() < kMaxTokenLength ? presented.size() : kMaxTokenLength;
    std::memcpy(padded.data(), presented.data(), length);
    unsigned best = 0;
    for (const Entry& entry : tokens_) {
        unsigned difference = static_cast<unsigned>(entry.length != presented.size());
        for (std::size_t i = 0; i < kMaxTokenLength; ++i) difference |= entry.bytes[i] ^ padded[i];
        // all ones when difference == 0, else zero
        const unsigned match = 0U - static_cast<unsigned>(((difference | (0U - difference)) >> 31) ^ 1U);
        const unsigned role = static_cast<unsigned>(entry.role) & match;
        best = role > best ? role : best;  // cmov: the role, never the bytes
    }
    return static_cast<Role>(best);
}

}  // namespace zarvik::http
