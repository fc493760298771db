// A price, a dose or a money amount as a person types it: digits with at most
// one decimal separator, a point or a comma ("56.30" and "56,30" are both
// 56.30). Text with a digit-group separator ("1 000", "1,000.50") or two
// separators is refused rather than guessed at.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvik::host {

struct DecimalReading {
    std::optional<double> value;
    std::string error;  // why not, when there is no value
};

DecimalReading ReadDecimalText(std::string_view text);

}  // namespace zarvik::host
