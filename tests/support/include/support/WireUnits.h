// A value a host stored, in the wire's integer units: litres in thousandths,
// money in hundredths, rounded to the nearest unit.
//
// Tests compare these integers with the counters the dispenser sent, never a
// stored double with a quotient computed afresh: on the x87 unit (32-bit
// Windows) `raw / 1000.0` is kept in 80 bits and differs from the double the
// host stored although both stand for the same thousandths. A value off by
// one unit still compares unequal.
#pragma once

#include <cmath>
#include <cstdint>

namespace zarvik::testing {

inline std::int64_t Thousandths(double stored) { return std::llround(stored * 1000.0); }
inline std::int64_t Hundredths(double stored) { return std::llround(stored * 100.0); }

}  // namespace zarvik::testing
