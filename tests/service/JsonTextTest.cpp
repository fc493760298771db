// The served documents' writer against nlohmann's dump with replacement:
// strings byte for byte, numbers as the same value of the same type (read
// back and dumped again), and a nested document read back whole.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "service/JsonText.h"

namespace zarvik::service {
namespace {

using json = nlohmann::json;

std::string Dumped(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

TEST(JsonText, Strings_AreEscapedAndReplacedAsNlohmannDumpsThem) {
    std::string controls;
    for (char c = 0; c < 0x20; ++c) controls += c;
    const std::vector<std::string> cases{
        "",
        "plain / text",
        "quote \" backslash \\ end",
        controls + "\x7F",
        "Идёт отпуск ✓ 😀",
        "\xFF lone \x80 bytes \xC0\xAF overlong",
        "\xE0\x80\x80 overlong, \xED\xA0\x80 surrogate, \xF4\x90\x80\x80 beyond U+10FFFF",
        "cut \xE2\x82x short \xF0\x9F\x98",
        "ends inside \xD0",
        "\xC3\xA9\xC3",
    };
    for (const std::string& s : cases) {
        SCOPED_TRACE(testing::PrintToString(s));
        JsonText mine;
        mine.String(s);
        EXPECT_EQ(mine.Text(), Dumped(json(s)));
    }
}

TEST(JsonText, Numbers_ReadBackAsTheSameValueOfTheSameType) {
    const std::vector<double> doubles{0.0,  -0.0,    12.0,  0.1,   2.675,  123456.789,
                                      1e15, 1e16,    -1e-5, 1e300, 5e-324, std::numeric_limits<double>::max(),
                                      NAN,  INFINITY};
    for (const double d : doubles) {
        JsonText mine;
        mine.Number(d);
        EXPECT_EQ(json::parse(mine.Text()).dump(), Dumped(json(d))) << mine.Text();
    }
    JsonText integers;
    integers.OpenArray().Integer(std::numeric_limits<std::int64_t>::min()).Unsigned(~0ULL).Integer(0).CloseArray();
    const json expected{std::numeric_limits<std::int64_t>::min(), ~0ULL, 0};
    EXPECT_EQ(json::parse(integers.Text()).dump(), Dumped(expected));
}

TEST(JsonText, NestedDocument_ReadsBackWhole) {
    JsonText mine;
    mine.Open().Key("name").String("ТРК \"1\"\n").Key("live").Bool(false).Key("state").Null();
    mine.Key("nozzles").OpenArray().Open().Close().Open().Key("volume").Number(2.5).Close().CloseArray();
    mine.Key("empty").OpenArray().CloseArray().Key("raw").Raw(R"({"code":216})").Key("ok").Bool(true).Close();
    const json expected{{"name", "ТРК \"1\"\n"},
                        {"live", false},
                        {"state", nullptr},
                        {"nozzles", {json::object(), {{"volume", 2.5}}}},
                        {"empty", json::array()},
                        {"raw", {{"code", 216}}},
                        {"ok", true}};
    EXPECT_EQ(json::parse(mine.Text()).dump(), Dumped(expected)) << mine.Text();
}

}  // namespace
}  // namespace zarvik::service
