// What may be written to a field, and whether a dump fits its target: the
// values the host once wrote wrongly (260 to a 1-byte field, 3000000000,
// NaN) are refused here before anything is sent.
#include <gtest/gtest.h>

#include "ParamsTestSupport.h"
#include "backup/ParamsRules.h"

namespace zarvik::host {
namespace {

using testing::SmallDump;

TEST(ParseRawValue, TakesWholeNumbersAndRefusesTheRestWithTheReason) {
    struct {
        const char* text;
        std::optional<std::int64_t> value;
        const char* reason;  // a word of the refusal
    } const cases[] = {
        {"260", 260, ""},
        {"+7", 7, ""},
        {"-5", -5, ""},
        {"0", 0, ""},
        {"4294967295", 4294967295, ""},
        {"1e3", 1000, ""},
        {"260.0", 260, ""},
        {"nan", std::nullopt, "NaN"},
        {"NaN", std::nullopt, "NaN"},
        {"-nan", std::nullopt, "NaN"},
        {"inf", std::nullopt, "infinity"},
        {"-Infinity", std::nullopt, "infinity"},
        {"1.5", std::nullopt, "whole"},
        {"1e-3", std::nullopt, "whole"},
        {"1e999", std::nullopt, "not a value a field can hold"},
        {"99999999999999999999", std::nullopt, "larger"},
        {"1e30", std::nullopt, "larger"},
        {"abc", std::nullopt, "not a number"},
        {"", std::nullopt, "not a number"},
        {"+", std::nullopt, "not a number"},
        {"+-5", std::nullopt, "not a number"},
        {"0x10", std::nullopt, "not a number"},
        {" 5", std::nullopt, "not a number"},
        {"5 ", std::nullopt, "not a number"},
    };
    for (const auto& c : cases) {
        const TypedValue typed = ParseRawValue(c.text);
        EXPECT_EQ(typed.value, c.value) << '"' << c.text << '"';
        if (!c.value) {
            EXPECT_NE(typed.error.find(c.reason), std::string::npos) << c.text << ": " << typed.error;
        }
    }
}

DumpField Field(int size, std::uint32_t low, std::uint32_t high) { return {4, "Поле", 0, size, low, high, {}, true}; }

TEST(CheckValue, HoldsEachValueToTheFieldsWidthThenItsLimits) {
    using V = ValueVerdict;
    struct {
        const char* name;
        DumpField field;
        std::int64_t value;
        V verdict;
        const char* words;
    } const cases[] = {
        {"260 in 1 byte", Field(1, 0, 255), 260, V::kDoesNotFit, "(1 byte, 0..255)"},
        {"255 in 1 byte", Field(1, 0, 255), 255, V::kFits, ""},
        {"65537 in 2 bytes", Field(2, 0, 65535), 65537, V::kDoesNotFit, "(2 bytes, 0..65535)"},
        {"3000000000 in 4 bytes", Field(4, 0, 0xFFFFFFFF), 3000000000, V::kFits, ""},
        {"2147483648 in 4 bytes, limits 0..999999", Field(4, 0, 999999), 2147483648, V::kOutsideLimits,
         "limits 0..999999"},
        {"2^32 in 4 bytes", Field(4, 0, 0xFFFFFFFF), 4294967296, V::kDoesNotFit, "0..4294967295"},
        {"-5 in 1 byte", Field(1, 0, 255), -5, V::kDoesNotFit, "251 for -5"},
        {"-70000 in 2 bytes: no unsigned form", Field(2, 0, 65535), -70000, V::kDoesNotFit, "(2 bytes, 0..65535)"},
        {"700 against 0..600", Field(2, 0, 600), 700, V::kOutsideLimits, "limits 0..600"},
        {"99 against 100..5000", Field(2, 100, 5000), 99, V::kOutsideLimits, "limits 100..5000"},
        {"inverted limits: the whole width", Field(1, 0xD8, 100), 150, V::kFits, ""},
        {"inverted limits: still the width", Field(1, 0xD8, 100), 256, V::kDoesNotFit, "(1 byte"},
        {"width 0", Field(0, 0, 0), 0, V::kNoValueBytes, "no value bytes"},
    };
    for (const auto& c : cases) {
        const ValueCheck check = CheckValue(1, c.field, c.value);
        EXPECT_EQ(check.verdict, c.verdict) << c.name;
        if (c.verdict != V::kFits) {
            EXPECT_NE(check.text.find(c.words), std::string::npos) << c.name << ": " << check.text;
            EXPECT_NE(check.text.find("table 1 field 4 \"Поле\""), std::string::npos) << c.name << ": " << check.text;
        }
    }
}

std::vector<std::string> PathsOf(const std::vector<Problem>& problems) {
    std::vector<std::string> paths;
    for (const auto& p : problems) paths.push_back(p.path);
    return paths;
}

TEST(CheckTarget, AnotherAddressOrRowOnlyWhenAskedFor) {
    const ParamsDump dump = SmallDump();  // address 1, row 2
    EXPECT_TRUE(CheckTarget(dump, 1, 2, false).empty());
    EXPECT_EQ(PathsOf(CheckTarget(dump, 2, 2, false)), std::vector<std::string>{"/address"});
    EXPECT_EQ(PathsOf(CheckTarget(dump, 1, 1, false)), std::vector<std::string>{"/row"});
    EXPECT_EQ(PathsOf(CheckTarget(dump, 3, 3, false)), (std::vector<std::string>{"/address", "/row"}));
    EXPECT_TRUE(CheckTarget(dump, 3, 3, true).empty());
    EXPECT_NE(CheckTarget(dump, 2, 2, false)[0].text.find("--other-target"), std::string::npos);
}

TEST(CompareLayout, EveryDifferenceFromTheDispensersDescriptionsIsNamed) {
    struct Case {
        const char* name;
        std::function<void(std::vector<DumpTable>&)> dispenser;
        int row;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {"the same layout", [](auto&) {}, 2, {}},
        {"a table more",
         [](auto& d) {
             d.push_back({3, "Ещё", 1, {}, true});
         },
         2,
         {"/tables"}},
        {"a table less", [](auto& d) { d.pop_back(); }, 2, {"/tables"}},
        {"table name", [](auto& d) { d[1].name = "Другая"; }, 2, {"/tables/1/name"}},
        {"row count", [](auto& d) { d[0].rows = 4; }, 2, {"/tables/0/rows"}},
        {"a field more",
         [](auto& d) {
             d[1].fields.push_back({2, "Ещё", 0, 1, 0, 1, {}, true});
         },
         2,
         {"/tables/1/fields"}},
        {"field name", [](auto& d) { d[0].fields[1].name = "Пароль"; }, 2, {"/tables/0/fields/1/name"}},
        {"type", [](auto& d) { d[0].fields[1].type = 1; }, 2, {"/tables/0/fields/1/type"}},
        {"width", [](auto& d) { d[0].fields[1].size = 4; }, 2, {"/tables/0/fields/1/size"}},
        {"both limits",
         [](auto& d) { d[0].fields[1].low = 1, d[0].fields[1].high = 999; },
         2,
         {"/tables/0/fields/1/low", "/tables/0/fields/1/high"}},
        {"target row past the table's rows", [](auto&) {}, 4, {"/tables/0/rows"}},
    };
    const ParamsDump file = SmallDump();
    for (const auto& c : cases) {
        std::vector<DumpTable> dispenser = SmallDump().tables;
        for (auto& t : dispenser)
            for (auto& f : t.fields) f.value.reset();
        c.dispenser(dispenser);
        EXPECT_EQ(PathsOf(CompareLayout(file, dispenser, c.row)), c.paths) << c.name;
    }
    // A problem says which field and both sides.
    std::vector<DumpTable> dispenser = SmallDump().tables;
    dispenser[0].fields[1].size = 4;
    const auto problems = CompareLayout(file, dispenser, 2);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].text, "table 1 field 2 \"Пароль оператора\": the width is 2 in the file, 4 on the dispenser");
}

TEST(CheckValues, WidthAlwaysLimitsUnlessForced) {
    ParamsDump file = SmallDump();
    EXPECT_TRUE(CheckValues(file, false).empty());
    file.tables[0].fields[0].value = 33;     // 1..32
    file.tables[0].fields[1].value = 70000;  // 2 bytes
    file.tables[0].fields[3].value = -1;     // 4 bytes
    EXPECT_EQ(
        PathsOf(CheckValues(file, false)),
        (std::vector<std::string>{"/tables/0/fields/0/value", "/tables/0/fields/1/value", "/tables/0/fields/3/value"}));
    EXPECT_EQ(PathsOf(CheckValues(file, true)),
              (std::vector<std::string>{"/tables/0/fields/1/value", "/tables/0/fields/3/value"}));
    // A field whose description the reader found unsound is not judged again.
    file.tables[0].fields[1].sound = false;
    EXPECT_EQ(PathsOf(CheckValues(file, true)), std::vector<std::string>{"/tables/0/fields/3/value"});
}

}  // namespace
}  // namespace zarvik::host
