// A number the operator typed into a window.
//
// "." and "," both stand for the decimal separator, whatever the locale. A
// text is refused (never mended) when it holds a digit-group separator (a
// blank, a no-break space, an apostrophe) between its characters, more than
// one decimal separator, more digits after the separator than the field
// takes, or anything but an optional sign, digits and one separator. Blanks
// around the number are ignored. A refusal carries the text to show.
#pragma once

#include <optional>
#include <string_view>

namespace zarvik::params {

inline constexpr const char* kNumberGrouped =
    "Число введено с разделителем разрядов: введите его без пробелов и разделителей групп";
inline constexpr const char* kNumberTwoSeparators =
    "В числе больше одного десятичного разделителя: допустим один, точка или запятая";
inline constexpr const char* kNumberTooManyDecimals = "В числе больше знаков после разделителя, чем принимает поле";
inline constexpr const char* kNumberNotANumber = "Введите число: цифры и одна точка или запятая";

struct TTypedNumber {
    std::optional<double> value;    // set when the text is a number
    const char* problem = nullptr;  // set when it is refused
    bool incomplete = false;        // empty, a sign or a separator alone: still being typed
};

// `decimals`: how many digits after the separator the field takes.
TTypedNumber ParseTypedNumber(std::string_view utf8, int decimals);

}  // namespace zarvik::params
