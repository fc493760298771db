#include "FaultCause.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "port/DeviceHolders.h"
#include "Terminal.h"

namespace zarvik::port {
namespace {

bool InGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    return false;
}

std::string PermissionText(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "permission denied";
    const group* g = ::getgrgid(st.st_gid);
    const std::string name = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
    if (st.st_uid != ::geteuid() && !InGroup(st.st_gid) && (st.st_mode & S_IRWXG) != 0)
        return "permission denied: the user is not in the group '" + name + "' that owns the device";
    return "permission denied: the device's mode does not allow the user (group '" + name + "')";
}

std::string BusyText(const std::string& path) {
    if (const auto holder = LockHolder(path)) return "busy: held by " + DescribeHolder(*holder);
    const pid_t self = ::getpid();
    for (const auto& holder : OpenHolders(path))
        if (holder.pid != self) return "busy: held by " + DescribeHolder(holder);
    return "busy: held by another program";
}

}  // namespace

std::string DescribeOpenFault(const std::string& path, int error, std::int32_t baud) {
    switch (error) {
        case 0:
            return {};
        case ENOENT:
            return "no such device";
        case ENXIO:
        case ENODEV:
            return "no such device (nothing answers at this path)";
        case EACCES:
        case EPERM:
            return PermissionText(path);
        case EBUSY:
        case EWOULDBLOCK:
            return BusyText(path);
        case ENOTTY:
            return "not a terminal";
        case EIO:
            return "input/output error: no hardware answers behind this port";
        case EISDIR:
            return "is a directory";
        case ENOTDIR:
            return "no such device (a part of the path is not a directory)";
        default:
            if (error == EINVAL && !IsSupportedBaud(baud)) return "unsupported baud rate " + std::to_string(baud);
            return std::strerror(error);
    }
}

std::string DescribeIoFault(int error) {
    if (error == 0 || error == EIO) return "hang-up: the device went away";
    return std::strerror(error);
}

}  // namespace zarvik::port
