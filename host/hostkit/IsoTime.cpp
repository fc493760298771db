#include "hostkit/IsoTime.h"

#include <charconv>
#include <cstdio>
#include <ctime>

#include "hostkit/Platform.h"

namespace zarvik::host {

namespace {

// Digits of TEXT at [at, at + count) as a number, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + count, value);
    return error == std::errc() && end == text.data() + at + count ? value : -1;
}

int DaysIn(int year, int month) {
    const auto last = std::chrono::year_month_day_last{
        std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} / std::chrono::last};
    return static_cast<int>(static_cast<unsigned>(last.day()));
}

}  // namespace

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

std::optional<std::chrono::system_clock::time_point> ParseIsoTime(std::string_view text, MissingZone missing) {
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = Digits(text, 0, 4) - 1900;
    tm.tm_mon = Digits(text, 5, 2) - 1;
    tm.tm_mday = Digits(text, 8, 2);
    tm.tm_hour = Digits(text, 11, 2);
    tm.tm_min = Digits(text, 14, 2);
    tm.tm_sec = Digits(text, 17, 2);
    if (tm.tm_year < 0 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour < 0 ||
        tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60)
        return std::nullopt;
    std::size_t at = 19;
    std::chrono::microseconds fraction{0};
    if (at < text.size() && text[at] == '.') {
        std::size_t digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
            if (digits < 6) fraction = fraction * 10 + std::chrono::microseconds(text[at] - '0');
        if (digits == 0) return std::nullopt;
        for (; digits < 6; ++digits) fraction *= 10;
    }
    if (tm.tm_mday > DaysIn(tm.tm_year + 1900, tm.tm_mon + 1)) return std::nullopt;
    if (at == text.size()) {
        if (missing != MissingZone::LocalTime) return std::nullopt;
        tm.tm_isdst = -1;
        return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + fraction;
    }
    int offsetMinutes = 0;
    if (at + 1 == text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
        const int hours = Digits(text, at + 1, 2);
        const int minutes = Digits(text, at + 4, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
        offsetMinutes = (hours * 60 + minutes) * (text[at] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    // Counted by the calendar (no timegm on Windows), as IsoTime counts the offset.
    const std::chrono::sys_days day = std::chrono::year{tm.tm_year + 1900} /
                                      std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)} /
                                      std::chrono::day{static_cast<unsigned>(tm.tm_mday)};
    const auto utc = std::chrono::sys_seconds(day) + std::chrono::hours(tm.tm_hour) +
                     std::chrono::minutes(tm.tm_min - offsetMinutes) + std::chrono::seconds(tm.tm_sec);
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(utc) + fraction;
}

}  // namespace zarvik::host
