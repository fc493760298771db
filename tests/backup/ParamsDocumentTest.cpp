// The parameter dump file without a dispenser: what the writer writes reads
// back the same, and every malformed file is refused with the path of each
// problem.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ParamsTestSupport.h"
#include "backup/ParamsDocument.h"

namespace zarvik::host {
namespace {

using nlohmann::json;
using testing::Paths;
using testing::Seal;
using testing::SmallDump;

TEST(Crc32, MatchesTheCheckValueOfItsPolynomial) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

TEST(ParamsDocument, WhatIsWrittenReadsBackTheSame) {
    const ParamsDump dump = SmallDump();
    const DumpReading reading = ReadDumpText(DumpText(dump));
    ASSERT_TRUE(reading.problems.empty()) << Describe(reading.problems.front());
    ASSERT_TRUE(reading.dump);
    const ParamsDump& back = *reading.dump;
    EXPECT_EQ(back.address, dump.address);
    EXPECT_EQ(back.row, dump.row);
    ASSERT_EQ(back.tables.size(), dump.tables.size());
    for (std::size_t i = 0; i < dump.tables.size(); ++i) {
        const DumpTable& a = dump.tables[i];
        const DumpTable& b = back.tables[i];
        EXPECT_EQ(b.number, a.number);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.rows, a.rows);
        ASSERT_EQ(b.fields.size(), a.fields.size());
        for (std::size_t j = 0; j < a.fields.size(); ++j) {
            const DumpField& x = a.fields[j];
            const DumpField& y = b.fields[j];
            EXPECT_EQ(std::tie(y.number, y.name, y.type, y.size, y.low, y.high, y.value),
                      std::tie(x.number, x.name, x.type, x.size, x.low, x.high, x.value))
                << "table " << a.number << " field " << x.number;
        }
    }
}

// The checksum covers the contents, not their layout on the page.
TEST(ParamsDocument, ChecksumIgnoresWhitespaceButNotAnyValue) {
    const std::string text = DumpText(SmallDump());
    EXPECT_TRUE(ReadDumpText(json::parse(text).dump()).problems.empty()) << "compact";
    EXPECT_TRUE(ReadDumpText(json::parse(text).dump(8)).problems.empty()) << "indented";

    struct {
        const char* name;
        const char* pointer;
        json value;
    } const edits[] = {
        {"a value", "/tables/0/fields/1/value", 31},
        {"a name", "/tables/1/name", "Другая"},
        {"a limit", "/tables/0/fields/0/high", 33},
        {"the address", "/address", 2},
    };
    for (const auto& e : edits) {
        json doc = json::parse(text);
        doc[json::json_pointer(e.pointer)] = e.value;
        const DumpReading reading = ReadDumpText(doc.dump());
        EXPECT_EQ(Paths(reading), std::vector<std::string>{"/checksum"}) << e.name;
        // Accepted when the user says the file was edited on purpose.
        EXPECT_TRUE(ReadDumpText(doc.dump(), {.ignoreChecksum = true}).problems.empty()) << e.name;
    }
}

// Each malformed document names where it is wrong, and nothing it holds is
// taken as good.
TEST(ParamsDocument, MalformedDocumentsNameEachProblem) {
    const json good = json::parse(DumpText(SmallDump()));
    struct Case {
        const char* name;
        std::function<void(json&)> edit;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {"unknown member", [](json& d) { d["comment"] = "x"; }, {"/comment"}},
        {"address 0", [](json& d) { d["address"] = 0; }, {"/address"}},
        {"address 256", [](json& d) { d["address"] = 256; }, {"/address"}},
        {"address as text", [](json& d) { d["address"] = "1"; }, {"/address"}},
        {"row 100", [](json& d) { d["row"] = 100; }, {"/row"}},
        {"tables not an array", [](json& d) { d["tables"] = json::object(); }, {"/tables"}},
        {"table numbered 3 at place 2", [](json& d) { d["tables"][1]["number"] = 3; }, {"/tables/1/number"}},
        {"table as a number", [](json& d) { d["tables"][1] = 7; }, {"/tables/1"}},
        {"rows negative", [](json& d) { d["tables"][0]["rows"] = -1; }, {"/tables/0/rows"}},
        {"field numbered 1 twice",
         [](json& d) { d["tables"][0]["fields"][1]["number"] = 1; },
         {"/tables/0/fields/1/number"}},
        {"size 5", [](json& d) { d["tables"][0]["fields"][0]["size"] = 5; }, {"/tables/0/fields/0/size"}},
        {"limit wider than the field",
         [](json& d) { d["tables"][0]["fields"][0]["high"] = 256; },
         {"/tables/0/fields/0/high"}},
        {"value as text", [](json& d) { d["tables"][0]["fields"][0]["value"] = "12"; }, {"/tables/0/fields/0/value"}},
        {"value with a fraction",
         [](json& d) { d["tables"][0]["fields"][0]["value"] = 1.5; },
         {"/tables/0/fields/0/value"}},
        {"value 12.0", [](json& d) { d["tables"][0]["fields"][0]["value"] = 12.0; }, {"/tables/0/fields/0/value"}},
        {"value true", [](json& d) { d["tables"][0]["fields"][0]["value"] = true; }, {"/tables/0/fields/0/value"}},
        {"value null where the row exists",
         [](json& d) { d["tables"][0]["fields"][0]["value"] = nullptr; },
         {"/tables/0/fields/0/value"}},
        {"value missing", [](json& d) { d["tables"][0]["fields"][0].erase("value"); }, {"/tables/0/fields/0/value"}},
        {"value for a row the table lacks",
         [](json& d) { d["tables"][1]["fields"][0]["value"] = 1; },
         {"/tables/1/fields/0/value"}},
        {"value for a field without bytes",
         [](json& d) { d["tables"][0]["fields"][2]["value"] = 1; },
         {"/tables/0/fields/2/value"}},
        {"value past 2^64",
         [](json& d) { d["tables"][0]["fields"][0]["value"] = 18446744073709551615u; },
         {"/tables/0/fields/0/value"}},
        {"three at once",
         [](json& d) {
             d["row"] = 0;
             d["tables"][0]["fields"][1]["name"] = 5;
             d["tables"][0]["fields"][1]["value"] = "x";
         },
         {"/row", "/tables/0/fields/1/name", "/tables/0/fields/1/value"}},
    };
    for (const auto& c : cases) {
        json doc = good;
        c.edit(doc);
        const DumpReading reading = ReadDumpText(Seal(doc));
        EXPECT_EQ(Paths(reading), c.paths) << c.name;
    }
}

TEST(ParamsDocument, TextThatIsNoDumpIsRefusedWhole) {
    struct {
        const char* name;
        std::string text;
        const char* path;
        const char* words;
    } const cases[] = {
        {"empty", "", "", "not JSON"},
        {"cut short", DumpText(SmallDump()).substr(0, 200), "", "not JSON"},
        {"an array", "[1, 2]", "", "not a JSON object"},
        {"no format", R"({"address": 1, "row": 1, "tables": []})", "/format", "before version 2"},
        {"version 1", R"({"format": "zarvik-params-dump", "version": 1})", "/version", "version 2"},
        {"nested deeply", std::string(5000, '[') + std::string(5000, ']'), "", "deeper"},
        {"invalid UTF-8", "{\"format\": \"\xFF\"}", "", "not JSON"},
        {"number overflow", R"({"format": 1e999})", "", "not JSON"},
    };
    for (const auto& c : cases) {
        const DumpReading reading = ReadDumpText(c.text);
        EXPECT_FALSE(reading.dump) << c.name;
        ASSERT_EQ(reading.problems.size(), 1u) << c.name;
        EXPECT_EQ(reading.problems[0].path, c.path) << c.name;
        EXPECT_NE(reading.problems[0].text.find(c.words), std::string::npos)
            << c.name << ": " << reading.problems[0].text;
    }
}

TEST(ParamsDocument, MissingChecksumIsAProblemUnlessIgnored) {
    json doc = json::parse(DumpText(SmallDump()));
    doc.erase("checksum");
    EXPECT_EQ(Paths(ReadDumpText(doc.dump())), std::vector<std::string>{"/checksum"});
    EXPECT_TRUE(ReadDumpText(doc.dump(), {.ignoreChecksum = true}).problems.empty());
    doc["checksum"] = "md5:0123";
    EXPECT_EQ(Paths(ReadDumpText(doc.dump())), std::vector<std::string>{"/checksum"});
}

TEST(ParamsDocument, FileOverTheCapIsRefusedBeforeReading) {
    const auto folder = testing::ScratchFolder("cap");
    const auto big = folder / "big.json";
    {
        std::ofstream out(big, std::ios::binary);
        out << DumpText(SmallDump());
    }
    std::filesystem::resize_file(big, kMaxDumpFileBytes + 1);
    const DumpReading reading = ReadDumpFile(big);
    EXPECT_FALSE(reading.dump);
    ASSERT_EQ(reading.problems.size(), 1u);
    EXPECT_NE(reading.problems[0].text.find("refused without reading"), std::string::npos) << reading.problems[0].text;

    const DumpReading missing = ReadDumpFile(folder / "absent.json");
    EXPECT_FALSE(missing.dump);
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_NE(missing.problems[0].text.find("cannot read"), std::string::npos);

    const auto exact = folder / "good.json";
    {
        std::ofstream out(exact, std::ios::binary);
        out << DumpText(SmallDump());
    }
    EXPECT_TRUE(ReadDumpFile(exact).problems.empty());
}

}  // namespace
}  // namespace zarvik::host
