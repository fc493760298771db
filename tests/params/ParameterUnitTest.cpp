#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <memory>

#include "params/ParameterUnit.h"
#include "zarvik/exceptions.h"

namespace zarvik::params {
namespace {

// A descriptor of the given kind; limits wide open unless a case sets them.
std::unique_ptr<CParameter> Make(uint8_t kind, uint8_t decimals = 0, long double numerator = 1.0L, int32_t minValue = 0,
                                 int32_t maxValue = 1000000000) {
    return std::make_unique<CParameter>(2, 21, 10, decimals, "Имя", "л", 0, minValue, maxValue, kind, 0, numerator);
}

TEST(PowerOfTen, MultipliesTenTimesOrGivesOne) {
    struct {
        int n;
        double expected;
    } const cases[] = {{-2, 1.0}, {0, 1.0}, {1, 10.0}, {3, 1000.0}, {6, 1e6}};
    for (const auto& c : cases) EXPECT_EQ(CParameter::PowerOfTen(c.n), c.expected) << c.n;
}

TEST(NearestInteger, TiesGoToEven) {
    struct {
        long double value;
        int64_t expected;
    } const cases[] = {{2.5L, 2},
                       {3.5L, 4},
                       {0.5L, 0},
                       {1.5L, 2},
                       {-2.5L, -2},
                       {-3.5L, -4},
                       {2.49L, 2},
                       {2.51L, 3},
                       {-0.4L, 0},
                       {-0.6L, -1},
                       {1e18L, 1000000000000000000},
                       {1e30L, std::numeric_limits<int64_t>::max()},
                       {-1e30L, std::numeric_limits<int64_t>::min()},
                       {std::numeric_limits<long double>::quiet_NaN(), 0}};
    for (const auto& c : cases) EXPECT_EQ(NearestInteger(c.value), c.expected) << static_cast<double>(c.value);
}

TEST(CParameter, ConstructorTakesMinimumBeforeMaximum) {
    CParameter p(3, 7, 9, 2, "Цена", "руб", 150, -5, 500, 6, 4, 2.5L);
    EXPECT_EQ(p.TableNo, 3);
    EXPECT_EQ(p.ParamNo, 7);
    EXPECT_EQ(p.Digits, 9);
    EXPECT_EQ(p.Decimals, 2);
    EXPECT_EQ(p.Name, "Цена");
    EXPECT_EQ(p.Units, "руб");
    EXPECT_EQ(p.Value, 150);
    EXPECT_EQ(p.MinValue, -5);
    EXPECT_EQ(p.MaxValue, 500);
    EXPECT_EQ(p.Kind, pkPlain);
    EXPECT_FALSE(p.Width.has_value());
    EXPECT_EQ(p.Page, 4);
    EXPECT_EQ(p.Numerator, 2.5L);
    EXPECT_TRUE(p.Choices.empty());
    EXPECT_TRUE(p.ReadText.empty());
}

struct DisplayCase {
    uint8_t kind;
    uint8_t decimals;
    int32_t raw;
    double expected;
};

TEST(CParameter, ToDisplayByKind) {
    const DisplayCase cases[] = {
        {0, 2, 12345, 123.45}, {10, 2, 12345, 123.45}, {0, 0, -7, -7.0},   {1, 0, 5, 1.0},
        {1, 0, 101, 1.0},      {1, 0, -7, 1.0},        {1, 0, 0, 0.0},     {1, 0, 100, 0.0},
        {1, 0, -200, 0.0},     {1, 2, 150, 1.0},  // kind 1 ignores decimals
        {9, 0, 1234, 0.0},     {11, 0, 4, 0.25},       {11, 0, 0, 0.0},    {11, 0, -3, 0.0},
        {11, 2, 400, 0.25},    {2, 2, 12005, 12005.0}, {3, 2, 201, 201.0}, {4, 1, 200, 200.0},
        {5, 1, 210, 210.0},    {6, 3, 77, 77.0},       {7, 2, 1, 1.0},     {8, 2, 9, 9.0},
        {12, 2, 345, 345.0},   {200, 2, 345, 345.0},
    };
    for (const auto& c : cases) {
        const auto p = Make(c.kind, c.decimals);
        EXPECT_DOUBLE_EQ(p->ToDisplay(c.raw), c.expected) << "kind " << int(c.kind) << " raw " << c.raw;
    }
}

TEST(CParameter, ReciprocalWithZeroNumeratorIsZero) {
    EXPECT_EQ(Make(11, 0, 0.0L)->ToDisplay(8), 0.0);
    EXPECT_EQ(Make(11, 0, 0.0L)->ToRaw(8.0), 0);
}

struct RawCase {
    uint8_t kind;
    uint8_t decimals;
    double x;
    int32_t expected;
};

TEST(CParameter, ToRawByKind) {
    const RawCase cases[] = {
        {0, 2, 123.45, 12345},
        {0, 2, 0.125, 12},  // 12.5 -> 12, ties to even
        {0, 2, 0.135, 14},  // 13.5 -> 14 (0.135 * 100 lies just above 13.5 anyway)
        {6, 0, 2.5, 2},
        {6, 0, 3.5, 4},
        {8, 0, -2.5, -2},
        {1, 2, 1.0, 1},  // kind 1 does not scale
        {1, 0, 0.5, 0},
        {1, 0, 1.5, 2},
        {11, 0, 0.25, 4},
        {11, 2, 0.25, 400},
        {11, 0, 0.0, 0},
        {11, 0, -1.0, 0},
        {11, 0, std::numeric_limits<double>::quiet_NaN(), 0},
        {0, 0, 4294967301.0, 5},  // the low 32 bits of 2^32 + 5
        {0, 0, std::numeric_limits<double>::quiet_NaN(), 0},
        {0, 0, 1e300, -1},  // saturates at the 64-bit limit; its low 32 bits
        {12, 1, 3.0, 30},
    };
    for (const auto& c : cases) {
        const auto p = Make(c.kind, c.decimals);
        EXPECT_EQ(p->ToRaw(c.x), c.expected) << "kind " << int(c.kind) << " x " << c.x;
    }
}

TEST(CParameter, StepAndLimitsUseTheKind) {
    const auto scaled = Make(0, 2, 1.0L, -150, 2500);
    EXPECT_DOUBLE_EQ(scaled->StepDisplay(), 0.1);
    EXPECT_DOUBLE_EQ(scaled->MinDisplay(), -1.5);
    EXPECT_DOUBLE_EQ(scaled->MaxDisplay(), 25.0);
    const auto reciprocal = Make(11, 0, 1.0L, 2, 8);
    EXPECT_DOUBLE_EQ(reciprocal->StepDisplay(), 0.1);
    EXPECT_DOUBLE_EQ(reciprocal->MinDisplay(), 0.5);
    EXPECT_DOUBLE_EQ(reciprocal->MaxDisplay(), 0.125);
}

class ValueTextTest : public ::testing::Test {
protected:
    // The texts below are written for the C locale's "." and no grouping.
    void SetUp() override {
        saved_ = std::setlocale(LC_NUMERIC, nullptr);
        ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    }
    void TearDown() override { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    std::string saved_;
};

struct TextCase {
    uint8_t kind;
    uint8_t decimals;
    int32_t minValue;
    int32_t raw;
    const char* expected;
};

TEST_F(ValueTextTest, TextByKind) {
    const TextCase cases[] = {
        {0, 2, 0, 12345, "123.45"},    {0, 0, 5, 0, "5"},  // below the minimum shows the minimum
        {0, 0, 0, 1234567, "1234567"}, {10, 1, 0, 7, "0.7"},
        {6, 2, 0, 3, "3.00"},          {8, 0, 0, 42, "42"},
        {11, 2, 0, 400, "0.25"},       {1, 0, 0, 0, "0"},
        {1, 0, 0, 100, "0"},           {1, 0, 0, 1, "1"},
        {1, 0, 0, 150, "1"},           {7, 0, 0, 2, "2"},
        {2, 0, 0, 999, "0 - 999"},     {2, 0, 0, 12005, "12 - 5"},
        {2, 0, 0, 1000, "1 - 0"},      {3, 0, 0, 200, "200"},
        {3, 0, 0, 201, "-1"},          {3, 0, 0, 299, "-99"},
        {4, 0, 0, 205, "-5"},          {5, 0, 0, 0, "0"},
        {9, 0, 0, 0, "Только запись"}, {9, 0, 0, 77, "Только запись"},
    };
    for (const auto& c : cases) {
        const auto p = Make(c.kind, c.decimals, 1.0L, c.minValue);
        EXPECT_EQ(p->ValueText(c.raw), c.expected) << "kind " << int(c.kind) << " raw " << c.raw;
    }
}

TEST_F(ValueTextTest, ChoicesNameTheirPositions) {
    const auto list = Make(7);
    list->Choices = {"A", "B"};
    EXPECT_EQ(list->ValueText(0), "A");
    EXPECT_EQ(list->ValueText(1), "B");
    EXPECT_EQ(list->ValueText(2), "2");
    const auto twoState = Make(1);
    twoState->Choices = {"Выкл", "Вкл"};
    EXPECT_EQ(twoState->ValueText(300), "Выкл");
    EXPECT_EQ(twoState->ValueText(301), "Вкл");
}

TEST_F(ValueTextTest, NegativeRawAndUnknownKindsAreRefused) {
    struct {
        uint8_t kind;
        int32_t raw;
    } const cases[] = {{0, -1}, {2, -1}, {9, -1}, {11, -5}, {12, 0}, {12, 5}, {255, 1}};
    for (const auto& c : cases) {
        const auto p = Make(c.kind);
        p->ReadText = "прочитано";
        try {
            p->ValueText(c.raw);
            ADD_FAILURE() << "kind " << int(c.kind) << " raw " << c.raw << " gave a text";
        } catch (const zarvik::Exception& e) {
            EXPECT_STREQ(e.what(), kConversionError);
        }
        EXPECT_EQ(p->ReadText, "прочитано");
        EXPECT_EQ(p->Value, 0);
    }
}

// A descriptor built from a field description: `width` bytes, limits as the
// wire gives them (zero-extended).
std::unique_ptr<CParameter> FromField(uint8_t width, uint32_t low, uint32_t high, uint8_t kind = 0) {
    auto p = std::make_unique<CParameter>(1, 1, 10, 0, "Поле", "", 0, static_cast<int32_t>(low),
                                          static_cast<int32_t>(high), kind, 0, 1.0L);
    p->Width = width;
    return p;
}

// With a width, raw values are the unsigned numbers on the wire: a 4-byte
// value of 2^31 or more is shown, not refused, and limits of 0xFFFFFFFF are
// 4294967295. Inverted limits show the value held, not the minimum.
TEST_F(ValueTextTest, FieldWidthMakesValuesUnsigned) {
    struct {
        const char* name;
        uint8_t width;
        uint32_t low, high;
        int32_t raw;
        const char* text;
        double min, max;  // the numeric editor's range
    } const cases[] = {
        {"4 bytes, 2^31", 4, 0, 0xFFFFFFFF, INT32_MIN, "2147483648", 0, 4294967295.0},
        {"4 bytes, all ones", 4, 0, 0xFFFFFFFF, -1, "4294967295", 0, 4294967295.0},
        {"sane limits raise to the minimum", 2, 100, 5000, 7, "100", 100, 5000},
        {"1 byte, low 216 above high 100", 1, 0xD8, 100, 7, "7", 0, 255},
        {"2 bytes, low 0x8001 above high 0x7FFF", 2, 0x8001, 0x7FFF, 65436, "65436", 0, 65535},
        {"4 bytes, low 0x80000000 above high 0x7FFFFFFF", 4, 0x80000000, 0x7FFFFFFF, 3, "3", 0, 4294967295.0},
    };
    for (const auto& c : cases) {
        const auto p = FromField(c.width, c.low, c.high);
        EXPECT_EQ(p->ValueText(c.raw), c.text) << c.name;
        EXPECT_EQ(p->EditorMin(), c.min) << c.name;
        EXPECT_EQ(p->EditorMax(), c.max) << c.name;
    }
    // Without a width the signed rules stand.
    EXPECT_THROW(Make(0)->ValueText(INT32_MIN), zarvik::Exception);
    EXPECT_FALSE(Make(0, 0, 1.0L, 300, 100)->LimitsInverted());
}

// Every write is checked before anything is sent: the value must be a number
// and fit the field's width; kinds 9, 10 and 12+ are never written.
TEST(CParameter, RawForWriteEncodesAndChecksEachKind) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    using R = TWriteRefusal;
    struct {
        const char* name;
        uint8_t kind, width, decimals;
        TEditorInput input;
        R refusal;
        int32_t raw;
    } const cases[] = {
        {"kind 0, 2 decimals, 1.25", 0, 4, 2, {1.25, 0, -1}, R::wrNone, 125},
        {"kind 0, 255 in 1 byte", 0, 1, 0, {255, 0, -1}, R::wrNone, 255},
        {"kind 0, 256 in 1 byte", 0, 1, 0, {256, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 0, 65537 in 2 bytes", 0, 2, 0, {65537, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 0, 3000000000 in 4 bytes", 0, 4, 0, {3000000000.0, 0, -1}, R::wrNone, -1294967296},
        {"kind 0, 2^32 in 4 bytes", 0, 4, 0, {4294967296.0, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 0, negative", 0, 4, 0, {-1, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 0, NaN", 0, 4, 0, {kNan, 0, -1}, R::wrNotANumber, 0},
        {"kind 0, infinity", 0, 4, 0, {kInf, 0, -1}, R::wrNotANumber, 0},
        {"kind 0, width 0 holds nothing", 0, 0, 0, {0, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 2, 12 and 5", 2, 4, 0, {12, 5, -1}, R::wrNone, 12005},
        {"kind 2 does not fit 1 byte", 2, 1, 0, {12, 5, -1}, R::wrDoesNotFit, 0},
        {"kind 2, NaN on the right", 2, 4, 0, {12, kNan, -1}, R::wrNotANumber, 0},
        {"kind 3, -5", 3, 1, 0, {-5, 0, -1}, R::wrNone, 205},
        {"kind 5, -20", 5, 1, 0, {-20, 0, -1}, R::wrNone, 220},
        {"kind 4, second choice", 4, 1, 0, {kNan, 0, 1}, R::wrNone, 200},
        {"kind 4, no choice", 4, 1, 0, {0, 0, -1}, R::wrNone, 0},
        {"kind 7, third choice", 7, 1, 0, {0, 0, 2}, R::wrNone, 2},
        {"kind 7, no choice", 7, 1, 0, {0, 0, -1}, R::wrDoesNotFit, 0},
        {"kind 10", 10, 4, 0, {1, 0, -1}, R::wrReadOnly, 0},
        {"kind 9", 9, 4, 0, {kNan, 0, -1}, R::wrNotWritable, 0},
        {"kind 12", 12, 4, 0, {1, 0, -1}, R::wrNotWritable, 0},
    };
    for (const auto& c : cases) {
        auto p = FromField(c.width, 0, 0xFFFFFFFF, c.kind);
        p->Decimals = c.decimals;
        const TRawForWrite result = p->RawForWrite(c.input);
        EXPECT_EQ(result.refusal, c.refusal) << c.name;
        if (c.refusal == R::wrNone) {
            EXPECT_EQ(result.raw, c.raw) << c.name;
        }
    }
}

// Limits are read as the wire's unsigned numbers with a width; inverted ones
// stand for the whole width.
TEST(CParameter, WithinLimitsReadsTheLimitsAsTheFieldCarriesThem) {
    struct {
        const char* name;
        uint8_t width;
        uint32_t low, high;
        int64_t raw;
        bool within;
    } const cases[] = {
        {"2 bytes, 0..600, 600", 2, 0, 600, 600, true},
        {"2 bytes, 0..600, 601", 2, 0, 600, 601, false},
        {"2 bytes, 100..5000, 99", 2, 100, 5000, 99, false},
        {"4 bytes, 0..0xFFFFFFFF, 2^32 - 1", 4, 0, 0xFFFFFFFF, 4294967295, true},
        {"4 bytes, 0x80000000..0xFFFFFFFF, 2^31", 4, 0x80000000, 0xFFFFFFFF, 2147483648, true},
        {"4 bytes, 0x80000000..0xFFFFFFFF, 5", 4, 0x80000000, 0xFFFFFFFF, 5, false},
        {"1 byte, inverted 216..100, 150", 1, 0xD8, 100, 150, true},
        {"1 byte, inverted 216..100, 256", 1, 0xD8, 100, 256, false},
        {"1 byte, inverted 216..100, -1", 1, 0xD8, 100, -1, false},
    };
    for (const auto& c : cases) EXPECT_EQ(FromField(c.width, c.low, c.high)->WithinLimits(c.raw), c.within) << c.name;
    // Without a width the limits are signed numbers.
    EXPECT_TRUE(Make(0, 0, 1.0L, -40, 100)->WithinLimits(-40));
    EXPECT_FALSE(Make(0, 0, 1.0L, -40, 100)->WithinLimits(101));
}

// Counts destructions so the list's ownership can be seen.
struct CountedParameter : CParameter {
    explicit CountedParameter(int* destroyed)
        : CParameter(1, 1, 10, 0, "p", "", 0, 0, 10, 0, 0, 1.0L), destroyed_(destroyed) {
        Choices = {"a", "b", "c"};
    }
    ~CountedParameter() override { ++*destroyed_; }
    int* destroyed_;
};

TEST(CTRKParameters, DestroyingTheListDestroysEveryDescriptor) {
    int destroyed = 0;
    {
        CTRKParameters list;
        for (int i = 0; i < 3; ++i) list.Add(std::make_unique<CountedParameter>(&destroyed));
        EXPECT_EQ(list.Count(), 3);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(CTRKParameters, ItemKeepsOrderAndRefusesBadIndexes) {
    CTRKParameters list;
    EXPECT_EQ(list.Count(), 0);
    CParameter* first = list.Add(Make(0));
    CParameter* second = list.Add(Make(7));
    EXPECT_EQ(list.Item(0), first);
    EXPECT_EQ(list.Item(1), second);
    for (int bad : {-1, 2, 100}) {
        EXPECT_THROW(list.Item(bad), zarvik::Exception) << bad;
    }
    EXPECT_THROW(list.Add(nullptr), zarvik::Exception);
    EXPECT_EQ(list.Count(), 2);
    int destroyed = 0;
    list.Add(std::make_unique<CountedParameter>(&destroyed));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace zarvik::params
