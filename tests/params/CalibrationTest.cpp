#include <gtest/gtest.h>

#include <limits>

#include "params/Calibration.h"
#include "zarvik/exceptions.h"

namespace zarvik::params {
namespace {

TEST(CalibrationCode, RowGivesTableTwoParameterTwentyOne) {
    struct {
        int32_t row;
        int32_t code;
    } const cases[] = {{0, 1020021}, {1, 1020121}, {3, 1020321}, {99, 1029921}};
    for (const auto& c : cases) EXPECT_EQ(CalibrationCode(c.row), c.code) << c.row;
}

TEST(CoefficientFromRead, TakesLowSixteenBitsSigned) {
    struct {
        int32_t read;
        int16_t coefficient;
    } const cases[] = {{0, 0},          {100, 100},        {65535, -1}, {32767, 32767},
                       {32768, -32768}, {0x12345, 0x2345}, {-1, -1},    {0x7FFF0064, 100}};
    for (const auto& c : cases) EXPECT_EQ(CoefficientFromRead(c.read), c.coefficient) << c.read;
}

struct CoefficientCase {
    int32_t read;
    double ordered;
    double delivered;
    int32_t expected;
};

TEST(NewCoefficient, FromOrderedAndDelivered) {
    const CoefficientCase cases[] = {
        {0, 10, 10.1, 100},
        {0, 10, 9.9, -100},
        {100, 10.1, 10.2, 50},          // A = 10.1 * 100 / 101 = 10
        {0, 10, 10, 0},                 // equal volumes
        {0, 5, 7, 2},                   // 5 / 2 = 2.5 -> 2, ties to even
        {0, 7, 9, 4},                   // 7 / 2 = 3.5 -> 4
        {65536 + 100, 10.1, 10.2, 50},  // only the low 16 bits count
        {1, 4, 3, 2},                   // A = 4 * (1 - 1/2) = 2; 2 / (3 - 2)
        {65534, 3, 5, -6},              // e = -2: A = 3 * (1 - 1/-1) = 6; 6 / (5 - 6)
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NewCoefficient(CoefficientFromRead(c.read), c.ordered, c.delivered), c.expected)
            << c.read << " " << c.ordered << " " << c.delivered;
    }
}

TEST(NewCoefficient, RefusesWhatCannotBeWritten) {
    struct {
        int32_t read;
        double ordered;
        double delivered;
        const char* message;
    } const cases[] = {
        {65535, 10, 10.1, kCoefficientMinusOne},  // e + 1 == 0
        {-1, 10, 10.1, kCoefficientMinusOne},
        {0, 10, 10 + 1e-9, kCoefficientOutOfRange},  // about 1e10
        {0, 10, 10 - 1e-9, kCoefficientOutOfRange},
        {0, 10, 10 + 4.6e-9, kCoefficientOutOfRange},  // about 2.17e9, above 2^31 - 1
    };
    // Just inside the range is still written.
    EXPECT_GT(NewCoefficient(0, 10, 10 + 4.7e-9), 2000000000);
    for (const auto& c : cases) {
        try {
            const int32_t k = NewCoefficient(CoefficientFromRead(c.read), c.ordered, c.delivered);
            ADD_FAILURE() << c.read << " " << c.ordered << " " << c.delivered << " gave " << k;
        } catch (const zarvik::Exception& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(CalibrationInput, DoseThenDeliveredVolume) {
    struct {
        double ordered;
        double delivered;
        const char* problem;  // nullptr: the dialog may close
    } const cases[] = {
        {1.5, 5, kDoseTooSmall},
        {1.5, 0.5, kDoseTooSmall},
        {2, 0.5, kDeliveredTooSmall},
        {2, 1, nullptr},
        {10, 10.1, nullptr},
        {1.9999, 1, kDoseTooSmall},
        {std::numeric_limits<double>::quiet_NaN(), 1, kDoseTooSmall},
    };
    for (const auto& c : cases) {
        const auto problem = CalibrationInputProblem(c.ordered, c.delivered);
        if (c.problem == nullptr) {
            EXPECT_FALSE(problem.has_value()) << c.ordered << " " << c.delivered;
            EXPECT_NO_THROW(CheckCalibrationInput(c.ordered, c.delivered));
        } else {
            EXPECT_EQ(problem.value_or(""), c.problem) << c.ordered << " " << c.delivered;
            try {
                CheckCalibrationInput(c.ordered, c.delivered);
                ADD_FAILURE() << c.ordered << " " << c.delivered << " passed";
            } catch (const zarvik::Exception& e) {
                EXPECT_STREQ(e.what(), c.problem);
            }
        }
    }
}

}  // namespace
}  // namespace zarvik::params
