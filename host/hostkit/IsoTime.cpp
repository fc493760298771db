#include "hostkit/IsoTime.h"

#include <cstdio>
#include <ctime>

namespace zarvik::host {

std::string IsoTime(std::chrono::system_clock::time_point time, bool withMicroseconds) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const std::time_t t = system_clock::to_time_t(seconds);
    std::tm local{};
    std::tm utc{};
#if defined(_WIN32)
    localtime_s(&local, &t);
    gmtime_s(&utc, &t);
#else
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
#endif
    // The offset is the local calendar time read as if it were UTC, less the
    // UTC one (strftime's %z is not ISO's "+03:00" and not portable).
    utc.tm_isdst = 0;
    std::tm localAsUtc = local;
    localAsUtc.tm_isdst = 0;
    const long offset = static_cast<long>(std::difftime(std::mktime(&localAsUtc), std::mktime(&utc)));
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    if (withMicroseconds)
        n += static_cast<std::size_t>(std::snprintf(text + n, sizeof text - n, ".%06lld",
                                                    static_cast<long long>((time - seconds) / microseconds(1))));
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

}  // namespace zarvik::host
