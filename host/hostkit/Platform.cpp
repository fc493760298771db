#include "hostkit/Platform.h"

#include <cstdio>
#include <ctime>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zarvik::host {

bool StdoutIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

std::tm LocalCalendar(std::time_t time) {
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &time);
#else
    localtime_r(&time, &local);
#endif
    return local;
}

std::string LocalTimeText(std::chrono::system_clock::time_point time, bool withDate) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto micros = duration_cast<microseconds>(time - seconds).count();
    const std::tm local = LocalCalendar(system_clock::to_time_t(seconds));
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, withDate ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06lld", static_cast<long long>(micros));
    return text;
}

}  // namespace zarvik::host
