// Quantities on the wire: scaled amounts (the little-endian fields that carry
// them are the codec's).
//
// Received counters are unsigned and divided by their scale (litres 1000,
// money 100). Sent amounts are trunc(value x scale + 0.005), formed in
// extended precision (80-bit long double on x86-64), so 1.001 L becomes 1001
// and 1.0009 L becomes 1000. An amount that does not fit its field, a
// negative value, NaN or infinity is refused with zarvik::Exception: cutting
// it to its low bytes would make the dispenser deliver something else.
#pragma once

#include <cstdint>

namespace zarvik::wire {

inline constexpr long double kLitreScale = 1000.0L;
inline constexpr long double kMoneyScale = 100.0L;
inline constexpr long double kCoefficientScale = 1000.0L;

inline constexpr std::uint32_t kMax3Bytes = 0xFFFFFFu;
inline constexpr std::uint32_t kMax4Bytes = 0xFFFFFFFFu;

// Counter divided by its scale in extended precision, kept as a double.
inline double Litres(std::uint32_t thousandths) {
    return static_cast<double>(static_cast<long double>(thousandths) / kLitreScale);
}
inline double Money(std::uint32_t hundredths) {
    return static_cast<double>(static_cast<long double>(hundredths) / kMoneyScale);
}

// trunc(value x scale + 0.005); raises zarvik::Exception with `what` named in
// the message when the result is not a number in 0..max.
std::uint32_t Scaled(double value, long double scale, std::uint32_t max, const char* what);

}  // namespace zarvik::wire
