#include "hostkit/IsoTime.h"

#include <cstdio>
#include <ctime>

#include "hostkit/Platform.h"

namespace zarvik::host {

std::string IsoTime(std::chrono::system_clock::time_point time, bool withMicroseconds) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const std::time_t t = system_clock::to_time_t(seconds);
    const std::tm local = LocalCalendar(t);
    // The offset is the local calendar time counted as if it were UTC, less
    // the moment itself (strftime's %z is not ISO's "+03:00" and not
    // portable). Counted by the calendar, not by mktime: mktime reads the
    // time zone file again on every call, and a service's document carries
    // hundreds of times.
    const sys_days day = year{local.tm_year + 1900} / month{static_cast<unsigned>(local.tm_mon + 1)} /
                         std::chrono::day{static_cast<unsigned>(local.tm_mday)};
    const long long localAsUtc = static_cast<long long>(day.time_since_epoch() / days(1)) * 86400 +
                                 local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const long offset = static_cast<long>(localAsUtc - static_cast<long long>(t));
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
