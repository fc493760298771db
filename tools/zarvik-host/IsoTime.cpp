#include "IsoTime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zarvik::host {

namespace {

constexpr long kSecondsPerMinute = 60;
constexpr long kSecondsPerHour = 3600;

// Seconds east of UTC of `local`, which is `t` in local time.
long UtcOffset(std::time_t t, const std::tm& local) {
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    // Both broken-down times read as if local: their difference is the offset,
    // whatever the daylight saving rules.
    std::tm asLocal = local;
    utc.tm_isdst = asLocal.tm_isdst;
    return static_cast<long>(std::difftime(std::mktime(&asLocal), std::mktime(&utc)));
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = UtcOffset(t, local);
    const long minutes = std::labs(offset) / kSecondsPerMinute;
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                  minutes / (kSecondsPerHour / kSecondsPerMinute), minutes % (kSecondsPerHour / kSecondsPerMinute));
    return text;
}

}  // namespace zarvik::host
