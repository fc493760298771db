#include "DecimalText.h"

#include <cstdlib>

namespace zarvik::host {

DecimalReading ReadDecimalText(std::string_view text) {
    const std::string shown = "\"" + std::string(text) + "\"";
    std::string plain;
    int separators = 0, digits = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            plain += c;
            ++digits;
        } else if (c == '.' || c == ',') {
            plain += '.';
            ++separators;
        } else if (c == '-' && plain.empty() && digits == 0) {
            return {std::nullopt, shown + " is negative: give 0 or more"};
        } else {
            return {std::nullopt, shown + " is not a number: give digits with one decimal point or comma, as 56.30"};
        }
    }
    if (digits == 0) return {std::nullopt, shown + " is not a number: give digits, as 56.30"};
    if (separators > 1)
        return {std::nullopt, shown + " has more than one separator: write it without digit grouping, as 1000.50"};
    if (digits > 15) return {std::nullopt, shown + " has more digits than any dispenser field holds"};
    return {std::strtod(plain.c_str(), nullptr), {}};
}

}  // namespace zarvik::host
