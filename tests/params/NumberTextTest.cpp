#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "params/NumberInput.h"
#include "params/NumberText.h"

namespace zarvik::params {
namespace {

// Separators unlike ".", so a hard-coded point or comma shows up.
const NumberSeparators kOdd{",", "'"};

struct FormatCase {
    double value;
    int digits;
    int decimals;
    const char* expected;
};

class FormatNumberTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, WritesRoundedGroupedText) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatNumber(c.value, c.digits, c.decimals, kOdd), c.expected)
        << c.value << " digits " << c.digits << " decimals " << c.decimals;
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatNumberTest,
                         ::testing::Values(FormatCase{1234567, 10, 0, "1'234'567"}, FormatCase{123.45, 10, 2, "123,45"},
                                           FormatCase{1234567.891, 10, 2, "1'234'567,89"},
                                           FormatCase{999, 10, 0, "999"}, FormatCase{1000, 10, 0, "1'000"},
                                           FormatCase{-1234.5, 10, 1, "-1'234,5"},
                                           // digits cut before decimals: four significant digits, then zeros
                                           FormatCase{123.456, 4, 3, "123,500"}, FormatCase{0.5, 10, 3, "0,500"},
                                           // half away from zero on the exact value, not on a rounded print
                                           FormatCase{0.125, 10, 2, "0,13"}, FormatCase{-0.125, 10, 2, "-0,13"},
                                           FormatCase{2.675, 10, 2, "2,67"},  // 2.67499999999999982...
                                           FormatCase{0.005, 10, 2, "0,01"},  // 0.00500000000000000010...
                                           FormatCase{999.995, 10, 2, "1'000,00"}, FormatCase{9.96, 2, 1, "10,0"},
                                           // rounds to zero: no minus sign
                                           FormatCase{-0.001, 10, 2, "0,00"}, FormatCase{0.0, 10, 3, "0,000"},
                                           FormatCase{1e-7, 10, 2, "0,00"},
                                           // more integer digits than digits: scientific
                                           FormatCase{12345678901.0, 10, 0, "1,23456789E+10"},
                                           FormatCase{99999.5, 5, 0, "1E+05"}, FormatCase{-123456, 3, 2, "-1,23E+05"},
                                           FormatCase{1e300, 10, 0, "1E+300"},
                                           // limits of digits and decimals
                                           FormatCase{7.5, 0, 0, "8"}, FormatCase{0.1, 40, 20, "0,100000000000000000"},
                                           FormatCase{std::numeric_limits<double>::quiet_NaN(), 10, 2, "NAN"},
                                           FormatCase{-std::numeric_limits<double>::infinity(), 10, 2, "-INF"}));

TEST(FormatNumber, MultiByteThousandsSeparator) {
    EXPECT_EQ(FormatNumber(1234567.5, 10, 1, {",", "\u202f"}), "1\u202f234\u202f567,5");
    EXPECT_EQ(FormatNumber(1234567, 10, 0, {".", ""}), "1234567");
}

// Restores the numeric locale a test changed.
class NumericLocale {
public:
    explicit NumericLocale(const char* name) : saved_(std::setlocale(LC_NUMERIC, nullptr)) {
        ok_ = std::setlocale(LC_NUMERIC, name) != nullptr;
    }
    ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

TEST(FormatNumber, ReadsSeparatorsOfCurrentLocale) {
    {
        NumericLocale c("C");
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(FormatNumber(1234567.25, 10, 2), "1234567.25");
    }
    NumericLocale russian("ru_RU.UTF-8");
    if (!russian.ok()) GTEST_SKIP() << "ru_RU.UTF-8 is not generated (scripts/install-deps)";
    const NumberSeparators s = CurrentNumberSeparators();
    EXPECT_EQ(s.decimal, ",");
    EXPECT_FALSE(s.thousands.empty());
    EXPECT_NE(s.thousands, ".");
    EXPECT_EQ(FormatNumber(1234567.25, 10, 2), "1" + s.thousands + "234" + s.thousands + "567,25");
}

// Typed numbers: "." and "," are both the decimal separator; grouped text,
// two separators or more fraction digits than the field takes are refused,
// never read as another number.
TEST(ParseTypedNumber, AcceptsEitherSeparatorAndRefusesTheRest) {
    struct Case {
        const char* text;
        int decimals;
        double value;         // when accepted
        const char* problem;  // when refused
    };
    const Case cases[] = {
        {"10.1", 3, 10.1, nullptr},
        {"10,1", 3, 10.1, nullptr},
        {" -0,25 ", 2, -0.25, nullptr},
        {"+7", 0, 7, nullptr},
        {"5.", 0, 5, nullptr},
        {",5", 1, 0.5, nullptr},
        {"1 000", 0, 0, kNumberGrouped},
        {"1\xC2\xA0"
         "000,5",
         1, 0, kNumberGrouped},
        {"1'000", 0, 0, kNumberGrouped},
        {"1.000,5", 3, 0, kNumberTwoSeparators},
        {"1,2,3", 3, 0, kNumberTwoSeparators},
        {"10.5", 0, 0, kNumberTooManyDecimals},
        {"1.2345", 3, 0, kNumberTooManyDecimals},
        {"12a", 3, 0, kNumberNotANumber},
        {"1-2", 3, 0, kNumberNotANumber},
        {"", 3, 0, kNumberNotANumber},
        {"-", 3, 0, kNumberNotANumber},
    };
    for (const Case& c : cases) {
        const TTypedNumber typed = ParseTypedNumber(c.text, c.decimals);
        if (c.problem == nullptr) {
            ASSERT_TRUE(typed.value.has_value()) << c.text;
            EXPECT_DOUBLE_EQ(*typed.value, c.value) << c.text;
            EXPECT_EQ(typed.problem, nullptr) << c.text;
        } else {
            EXPECT_FALSE(typed.value.has_value()) << c.text;
            EXPECT_STREQ(typed.problem, c.problem) << c.text;
        }
    }
}

}  // namespace
}  // namespace zarvik::params
