#include "params/NumberText.h"

#if defined(_WIN32)
#include <clocale>
#else
#include <langinfo.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace zarvik::params {

namespace {

constexpr int kMaxDigits = 15;  // every decimal of up to 15 digits survives a double
constexpr int kMaxDecimals = 18;
constexpr int kExactDigits = 767;  // a double's exact decimal expansion never has more
constexpr int kMinExponentDigits = 2;

// The exact decimal expansion of a positive finite value: its significant
// digits and the power of ten of the first one.
struct Decimal {
    std::string digits;  // heap, not stack: tick threads run on small stacks
    int count = 0;
    int exponent = 0;
};

void Expand(double magnitude, Decimal& out) {
    std::string text(kExactDigits + 16, '\0');
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), magnitude, std::chars_format::scientific, kExactDigits);
    const std::string_view written(text.data(), static_cast<size_t>(result.ptr - text.data()));
    const size_t e = written.find('e');
    out.digits.assign(kExactDigits + 1, '0');
    out.count = 0;
    for (size_t i = 0; i < e; ++i)
        if (written[i] != '.') out.digits[out.count++] = written[i];
    int exponent = 0;
    std::from_chars(written.data() + e + (written[e + 1] == '+' ? 2 : 1), written.data() + written.size(), exponent);
    out.exponent = exponent;
    while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
}

// Keeps `keep` significant digits, rounding half away from zero on the exact
// expansion. Returns false when the value rounds to zero.
bool RoundTo(Decimal& d, int keep) {
    if (keep < 0) return false;
    if (keep >= d.count) return true;
    const bool up = d.digits[keep] >= '5';
    d.count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9') --i;
        if (i < 0) {  // all nines (or nothing kept): carries into a new leading digit
            d.digits[0] = '1';
            d.count = 1;
            ++d.exponent;
        } else {
            ++d.digits[i];
            d.count = i + 1;
        }
    }
    while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;
    return d.count > 0;
}

std::string Grouped(const std::string& integer, const std::string& separator) {
    std::string out;
    const size_t n = integer.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += separator;
        out += integer[i];
    }
    return out;
}

char DigitAt(const Decimal& d, int index) { return index >= 0 && index < d.count ? d.digits[index] : '0'; }

std::string Scientific(bool negative, const Decimal& d, const NumberSeparators& separators) {
    std::string out = negative ? "-" : "";
    out += d.digits[0];
    if (d.count > 1) {
        out += separators.decimal;
        out.append(d.digits, 1, static_cast<size_t>(d.count - 1));
    }
    out += 'E';
    out += d.exponent < 0 ? '-' : '+';
    std::string exponent = std::to_string(std::abs(d.exponent));
    if (exponent.size() < kMinExponentDigits) exponent.insert(0, kMinExponentDigits - exponent.size(), '0');
    return out + exponent;
}

}  // namespace

NumberSeparators CurrentNumberSeparators() {
    NumberSeparators separators;
#if defined(_WIN32)
    // Windows has no nl_langinfo: the program's C locale through localeconv.
    const std::lconv* conv = std::localeconv();
    const char* radix = conv != nullptr ? conv->decimal_point : nullptr;
    const char* thousands = conv != nullptr ? conv->thousands_sep : nullptr;
#else
    // nl_langinfo reads the calling thread's locale and is safe beside other threads.
    const char* radix = nl_langinfo(RADIXCHAR);
    const char* thousands = nl_langinfo(THOUSEP);
#endif
    if (radix != nullptr && *radix != '\0') separators.decimal = radix;
    separators.thousands = thousands != nullptr ? thousands : "";
    return separators;
}

std::string FormatNumber(double value, int digits, int decimals) {
    return FormatNumber(value, digits, decimals, CurrentNumberSeparators());
}

std::string FormatNumber(double value, int digits, int decimals, const NumberSeparators& separators) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    digits = std::clamp(digits, 1, kMaxDigits);
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    const std::string point = separators.decimal.empty() ? std::string(".") : separators.decimal;

    Decimal d;
    bool nonZero = false;
    if (value != 0.0) {
        Expand(std::fabs(value), d);
        // Cut at the digits-th significant digit or the decimals-th fraction digit, whichever comes first.
        nonZero = RoundTo(d, std::min(digits, d.exponent + 1 + decimals));
    }
    const bool negative = nonZero && value < 0;
    if (nonZero && d.exponent + 1 > digits) return Scientific(negative, d, {point, separators.thousands});

    std::string integer;
    if (!nonZero || d.exponent < 0) {
        integer = "0";
    } else {
        for (int i = 0; i <= d.exponent; ++i) integer += DigitAt(d, i);
    }
    std::string out = negative ? "-" : "";
    out += Grouped(integer, separators.thousands);
    if (decimals > 0) {
        out += point;
        for (int j = 1; j <= decimals; ++j) out += nonZero ? DigitAt(d, d.exponent + j) : '0';
    }
    return out;
}

}  // namespace zarvik::params
