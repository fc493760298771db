#include "params/NumberInput.h"

#include <array>
#include <charconv>
#include <string>

namespace zarvik::params {

namespace {

// Characters people put between digit groups, UTF-8.
constexpr std::array<std::string_view, 7> kGroupSeparators{" ",
                                                           "\t",
                                                           "'",
                                                           "\xC2\xA0" /* no-break space */,
                                                           "\xE2\x80\xAF" /* narrow no-break space */,
                                                           "\xE2\x80\x89" /* thin space */,
                                                           "\xE2\x80\x99" /* right single quotation mark */};

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Length of the group separator at the start of s, or 0.
std::size_t GroupSeparatorAt(std::string_view s) {
    for (std::string_view g : kGroupSeparators)
        if (s.substr(0, g.size()) == g) return g.size();
    return 0;
}

}  // namespace

TTypedNumber ParseTypedNumber(std::string_view utf8, int decimals) {
    TTypedNumber out;
    std::string_view s = Trimmed(utf8);
    std::string plain;  // sign, digits, "." for the separator
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        if (s.front() == '-') plain += '-';
        s.remove_prefix(1);
    }
    int separators = 0, digits = 0, fraction = 0;
    bool grouped = false, foreign = false;
    while (!s.empty()) {
        const char c = s.front();
        if (c >= '0' && c <= '9') {
            plain += c;
            ++digits;
            if (separators > 0) ++fraction;
            s.remove_prefix(1);
        } else if (c == '.' || c == ',') {
            if (++separators == 1) plain += '.';
            s.remove_prefix(1);
        } else if (const std::size_t n = GroupSeparatorAt(s); n > 0) {
            grouped = true;
            s.remove_prefix(n);
        } else {
            foreign = true;
            s.remove_prefix(1);
        }
    }
    if (foreign) {
        out.problem = kNumberNotANumber;
    } else if (grouped) {
        out.problem = kNumberGrouped;
    } else if (separators > 1) {
        out.problem = kNumberTwoSeparators;
    } else if (digits == 0) {
        out.incomplete = true;
        out.problem = kNumberNotANumber;
    } else if (fraction > (decimals < 0 ? 0 : decimals)) {
        out.problem = kNumberTooManyDecimals;
    } else {
        if (plain.back() == '.') plain.pop_back();  // "5." is 5
        double value = 0.0;
        const char* first = plain.data();
        const auto result = std::from_chars(first, first + plain.size(), value);
        if (result.ec != std::errc() || result.ptr != first + plain.size())
            out.problem = kNumberNotANumber;
        else
            out.value = value;
    }
    return out;
}

}  // namespace zarvik::params
