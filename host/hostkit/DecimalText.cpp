#include "hostkit/DecimalText.h"

#include "params/NumberInput.h"

namespace zarvik::host {

namespace {

// More decimals than a field carries are cut by the driver, as before.
constexpr int kAnyDecimals = 15;
// Beyond this no dispenser field holds the scaled number.
constexpr double kLargestAmount = 1e15;

}  // namespace

// The windows' reading of typed numbers, with the host's own words.
DecimalReading ReadDecimalText(std::string_view text) {
    const std::string shown = "\"" + std::string(text) + "\"";
    if (!text.empty() && text.front() == '-') return {std::nullopt, shown + " is negative: give 0 or more"};
    const params::TTypedNumber typed = params::ParseTypedNumber(text, kAnyDecimals);
    // By text: each translation unit may hold its own copy of the literal.
    const std::string_view problem = typed.problem != nullptr ? typed.problem : "";
    if (problem == params::kNumberGrouped || problem == params::kNumberTwoSeparators)
        return {std::nullopt, shown + " has more than one separator: write it without digit grouping, as 1000.50"};
    if (!typed.value)
        return {std::nullopt, shown + " is not a number: give digits with one decimal point or comma, as 56.30"};
    if (*typed.value >= kLargestAmount)
        return {std::nullopt, shown + " has more digits than any dispenser field holds"};
    return {typed.value, {}};
}

}  // namespace zarvik::host
