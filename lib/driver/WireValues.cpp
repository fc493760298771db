#include "WireValues.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "ComPort.h"

namespace zarvik::wire {

std::uint32_t Scaled(double value, long double scale, std::uint32_t max, const char* what) {
    if (!std::isfinite(value) || value < 0.0)
        RaiseError(std::string("Недопустимое значение (") + what + "): ожидается неотрицательное число");
    const long double scaled = std::trunc(static_cast<long double>(value) * scale + 0.005L);
    if (scaled > static_cast<long double>(max)) {
        char limit[48];
        std::snprintf(limit, sizeof limit, "%.3Lf", static_cast<long double>(max) / scale);
        RaiseError(std::string("Значение (") + what + ") не помещается в поле команды: не более " + limit);
    }
    return static_cast<std::uint32_t>(scaled);
}

}  // namespace zarvik::wire
