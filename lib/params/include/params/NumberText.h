// The number text of parameter values and limits.
//
// A value is rounded (half away from zero, on its exact decimal expansion) to
// `digits` significant digits and at most `decimals` digits after the
// separator, then written with exactly `decimals` digits after the decimal
// separator and its integer part grouped in thousands. If the rounded value
// has more integer digits than `digits`, it is written in scientific
// notation instead: up to `digits` significant digits without trailing
// zeros, "E", a sign and at least two exponent digits ("1,2345E+15").
// `digits` is taken within 1..15 and `decimals` within 0..18. NaN and
// infinities give "NAN", "INF" and "-INF".
//
// The overload without separators uses those of the calling thread's current
// C numeric locale (LC_NUMERIC, as set by setlocale/uselocale). It allocates
// only on the heap and keeps its stack use small (it runs on tick threads).
#pragma once

#include <string>

namespace zarvik::params {

struct NumberSeparators {
    std::string decimal = ".";  // never empty
    std::string thousands;      // may be empty: groups then run together
};

// The decimal and thousands separators of the current C numeric locale.
NumberSeparators CurrentNumberSeparators();

std::string FormatNumber(double value, int digits, int decimals);
std::string FormatNumber(double value, int digits, int decimals, const NumberSeparators& separators);

}  // namespace zarvik::params
