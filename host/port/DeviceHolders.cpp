#include "port/DeviceHolders.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zarvik::port {
namespace {

std::string CommandName(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool IsNumber(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

std::optional<DeviceHolder> LockHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 812 00:19:3 0 EOF": pid, then the file as
    // major:minor (hex) of its file system and inode.
    std::ifstream in("/proc/locks");
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream fields(row);
        std::string id, kind, mode, access, pid, file;
        if (!(fields >> id >> kind)) continue;
        if (kind == "->") fields >> kind;  // a waiter: "1: -> FLOCK ..."
        if (kind != "FLOCK" || !(fields >> mode >> access >> pid >> file)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (major != ::major(st.st_dev) || minor != ::minor(st.st_dev) || inode != st.st_ino) continue;
        const auto p = static_cast<pid_t>(std::atol(pid.c_str()));
        return DeviceHolder{p, CommandName(p)};
    }
    return std::nullopt;
}

std::vector<DeviceHolder> OpenHolders(const std::string& path) {
    namespace fs = std::filesystem;
    std::vector<DeviceHolder> holders;
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    if (ec) return holders;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename();
        if (!IsNumber(pid)) continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError) == target) {
                const auto p = static_cast<pid_t>(std::atol(pid.c_str()));
                holders.push_back({p, CommandName(p)});
                break;
            }
        }
    }
    return holders;
}

}  // namespace zarvik::port
