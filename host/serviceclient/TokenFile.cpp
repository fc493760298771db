#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "hostkit/VisibleText.h"
#include "serviceclient/ServiceClient.h"

namespace zarvik::serviceclient {

namespace {

constexpr std::size_t kMinTokenLength = 16;

bool Visible(const std::string& token) {
    for (const char c : token)
        if (c <= ' ' || c > '~') return false;
    return true;
}

}  // namespace

std::string TokenFromFile(const std::string& path) {
    const std::string name = "token file " + host::VisibleText(path);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw host::ConfigError(name + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw host::ConfigError(name + ": not a regular file");
    // Others must not read the token (nor put their own there).
    if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0)
        throw host::ConfigError(name + ": others may read or write it (chmod o-rw)");
    std::ifstream in(path);
    if (!in) throw host::ConfigError(name + ": cannot be read");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string first, second, more;
        if (!(words >> first) || first.starts_with('#')) continue;
        words >> second >> more;
        if (!more.empty()) throw host::ConfigError(name + ": a line holds more than ROLE TOKEN");
        const std::string token = second.empty() ? first : second;
        if (token.size() < kMinTokenLength || !Visible(token))
            throw host::ConfigError(name + ": the token is not at least 16 visible ASCII characters");
        return token;
    }
    throw host::ConfigError(name + ": holds no token");
}

}  // namespace zarvik::serviceclient
