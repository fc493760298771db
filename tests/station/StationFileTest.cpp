// The station file: a good file gives every line, dispenser and setting; a
// wrong one is refused with the key's path and the problem.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include "station/StationFile.h"

namespace zarvik::host {
namespace {

// A one-line station with `line` as the line object.
std::string Station(const std::string& line) { return R"({"lines": [)" + line + "]}"; }
const std::string kDispenser = R"({"number": 1, "nozzles": 3})";
std::string Line(const std::string& extra, const std::string& dispensers = "[" + kDispenser + "]") {
    return R"({"line": 1, "device": "/dev/ttyS0", )" + extra + (extra.empty() ? "" : ", ") + R"("dispensers": )" +
           dispensers + "}";
}

TEST(StationFile, DocumentedExample_GivesEveryLineDispenserAndSetting) {
    const StationFile s = ReadStationFile(ZARVIK_STATION_EXAMPLE);
    EXPECT_EQ(s.name, "АЗС 7");
    ASSERT_EQ(s.lines.size(), 2u);
    const StationLine& one = s.lines[0];
    EXPECT_EQ(one.line, 1);
    EXPECT_EQ(one.device, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ3PQ-if00-port0");
    EXPECT_EQ(one.settings.baud, 0) << "no baud: the driver's rate";
    EXPECT_EQ(one.settings.response, port::LineSettings{}.response);
    ASSERT_EQ(one.dispensers.size(), 2u);
    EXPECT_EQ(one.dispensers[1].number, 2);
    EXPECT_EQ(one.dispensers[1].name, "ТРК 2");
    EXPECT_EQ(one.dispensers[1].nozzleNames, (std::vector<std::string>{"АИ-92", "АИ-95", "ДТ"}));
    const StationLine* two = s.Find(2);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->settings.baud, 19200);
    EXPECT_EQ(two->settings.response, std::chrono::milliseconds(500));
    EXPECT_EQ(two->settings.interByte, std::chrono::milliseconds(80));
    EXPECT_EQ(two->settings.drainQuiet, std::chrono::milliseconds(100));
    EXPECT_EQ(two->settings.localEcho, port::LocalEcho::On);
    EXPECT_EQ(two->settings.matching, port::ReplyMatching::Strict);
    EXPECT_EQ(one.settings.localEcho, port::LocalEcho::Auto);
    ASSERT_NE(two->Find(4), nullptr);
    EXPECT_EQ(two->Find(4)->nozzles, 1);
    EXPECT_TRUE(two->Find(4)->name.empty());
    EXPECT_EQ(two->Find(1), nullptr);
    EXPECT_EQ(s.Find(3), nullptr);
}

TEST(StationFile, WrongFiles_NameTheKeyAndTheProblem) {
    struct Case {
        std::string text;
        std::string key;
        std::string problem;  // a part of it
    };
    const std::string six = R"({"number": 1, "nozzles": 6})";
    const std::string two = R"({"number": 2, "nozzles": 1})";
    const Case cases[] = {
        {"", "$", "not JSON: "},
        {R"({"lines": [}")", "$", "not JSON: parse error at line 1"},
        {"[]", "$", "must be an object, not array"},
        {"{}", "$.lines", "missing"},
        {R"({"lines": []})", "$.lines", "must hold 1 to 32 entries, holds 0"},
        {R"({"lines": {}})", "$.lines", "must be an array, not object"},
        {R"({"lines": [], "line": 1})", "$.line", "unknown key (known here: name, lines, service)"},
        {R"({"name": "", "lines": []})", "$.name", "must not be empty"},
        {Station("7"), "$.lines[0]", "must be an object, not the number 7"},
        {Station(R"({"device": "/dev/ttyS0", "dispensers": [{"number": 1, "nozzles": 1}]})"), "$.lines[0].line",
         "missing"},
        {Station(R"({"line": 0, "device": "x", "dispensers": []})"), "$.lines[0].line",
         "must be an integer from 1 to 32, is 0"},
        {Station(R"({"line": 33, "device": "x", "dispensers": []})"), "$.lines[0].line", "is 33"},
        {Station(R"({"line": -1, "device": "x", "dispensers": []})"), "$.lines[0].line", "is -1"},
        {Station(R"({"line": 1.5, "device": "x", "dispensers": []})"), "$.lines[0].line", "not the number 1.5"},
        {Station(R"({"line": "1", "device": "x", "dispensers": []})"), "$.lines[0].line", "not the string \"1\""},
        {Station(R"({"line": 18446744073709551615, "device": "x", "dispensers": []})"), "$.lines[0].line",
         "must be an integer from 1 to 32"},
        {Station(R"({"line": 1, "device": "", "dispensers": []})"), "$.lines[0].device", "must not be empty"},
        {Station(R"({"line": 1, "device": 5, "dispensers": []})"), "$.lines[0].device", "must be a string"},
        {Station(Line(R"("buad": 9600)")), "$.lines[0].buad",
         "unknown key (known here: line, device, name, baud, timeouts, match, lenientAfter, localEcho, dispensers)"},
        {Station(Line(R"("match": "loose")")), "$.lines[0].match", "must be one of strict, lenient, is \"loose\""},
        {Station(Line(R"("localEcho": true)")), "$.lines[0].localEcho", "must be a string"},
        {Station(Line(R"("lenientAfter": -1)")), "$.lines[0].lenientAfter", "is -1"},
        {Station(Line(R"("baud": 14400)")), "$.lines[0].baud", "unsupported baud rate 14400 (supported: 1200,"},
        {Station(Line(R"("baud": 460800)")), "$.lines[0].baud", "must be an integer from 1200 to 230400"},
        {Station(Line(R"("baud": 9600, "baud": 19200)")), "$.lines[0].baud", "given twice in one object"},
        {Station(Line(R"("timeouts": {"responseMs": 0})")), "$.lines[0].timeouts.responseMs",
         "must be an integer from 1 to 60000, is 0"},
        {Station(Line(R"("timeouts": {"interByteMs": 10001})")), "$.lines[0].timeouts.interByteMs", "is 10001"},
        {Station(Line(R"("timeouts": {"drainQuietMs": -5})")), "$.lines[0].timeouts.drainQuietMs", "is -5"},
        {Station(Line(R"("timeouts": {"response": 300})")), "$.lines[0].timeouts.response", "unknown key"},
        {Station(Line(R"("timeouts": 300)")), "$.lines[0].timeouts", "must be an object"},
        {Station(Line("", "[]")), "$.lines[0].dispensers", "must hold 1 to 32 entries, holds 0"},
        {Station(Line("", R"([{"nozzles": 2}])")), "$.lines[0].dispensers[0].number", "missing"},
        {Station(Line("", R"([{"number": 1}])")), "$.lines[0].dispensers[0].nozzles", "missing"},
        {Station(Line("", R"([{"number": 1, "nozzles": 7}])")), "$.lines[0].dispensers[0].nozzles",
         "must be an integer from 1 to 6, is 7"},
        {Station(Line("", R"([{"number": 33, "nozzles": 1}])")), "$.lines[0].dispensers[0].number", "is 33"},
        {Station(Line("", "[" + kDispenser + ", " + kDispenser + "]")), "$.lines[0].dispensers[1].number",
         "dispenser 1 is already at $.lines[0].dispensers[0] of line 1"},
        {Station(Line("", R"([{"number": 1, "nozzles": 2, "nozzleNames": ["АИ-92"]}])")),
         "$.lines[0].dispensers[0].nozzleNames", "must hold 2 to 2 entries, holds 1"},
        {Station(Line("", R"([{"number": 1, "nozzles": 2, "nozzleNames": ["АИ-92", ""]}])")),
         "$.lines[0].dispensers[0].nozzleNames[1]", "must not be empty"},
        {Station(Line("", R"([{"number": 1, "nozzles": 1, "nozles": 2}])")), "$.lines[0].dispensers[0].nozles",
         "unknown key"},
        {Station(Line("", R"([{"number": 1, "nozzles": 1, "nozzles": 1}])")), "$.lines[0].dispensers[0].nozzles",
         "given twice"},
        {Station(Line("", "[" + two + ", " + six + "]")), "$.lines[0].dispensers[1].nozzles",
         "dispenser 1 cannot have 6 nozzles while dispenser 2 is on the line: its nozzle 6 and that one's nozzle 1 "
         "are both nozzle byte 5 of bus address 1"},
        {Station(Line("") + ", " + Line("")), "$.lines[1].line", "line 1 is already at $.lines[0]"},
        {R"({"service": [], "lines": [)" + Line("") + "]}", "$.service", "must be an object, not array"},
        {Station(Line("") + R"(, {"line": 2, "device": "/dev/ttyS0", "dispensers": [{"number": 1, "nozzles": 1}]})"),
         "$.lines[1].device", "/dev/ttyS0 already serves line 1 ($.lines[0]): one device serves one line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseStationFile(c.text, "station.json");
            ADD_FAILURE() << "accepted";
        } catch (const StationFileError& e) {
            EXPECT_EQ(e.Key(), c.key);
            EXPECT_NE(e.Problem().find(c.problem), std::string::npos) << e.Problem();
            EXPECT_EQ(std::string(e.what()), "station.json: " + e.Key() + ": " + e.Problem());
            EXPECT_EQ(e.Code(), kExitConfig);
        }
    }
}

// Odd dispenser with 6 nozzles is fine when its even neighbour is absent;
// names and settings are optional.
TEST(StationFile, BoundaryValues_AreTaken) {
    const StationFile s = ParseStationFile(
        Station(Line(R"("baud": 230400, "timeouts": {"responseMs": 60000, "interByteMs": 1, "drainQuietMs": 0}, )"
                     R"("match": "lenient", "lenientAfter": 1000000, "localEcho": "off")",
                     R"([{"number": 1, "nozzles": 6}, {"number": 32, "nozzles": 1}])")),
        "x");
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_EQ(s.lines[0].settings.baud, 230400);
    EXPECT_EQ(s.lines[0].settings.response, std::chrono::milliseconds(60000));
    EXPECT_EQ(s.lines[0].settings.drainQuiet, std::chrono::milliseconds(0));
    EXPECT_EQ(s.lines[0].settings.matching, port::ReplyMatching::Lenient);
    EXPECT_EQ(s.lines[0].settings.lenientAfter, 1000000u);
    EXPECT_EQ(s.lines[0].settings.localEcho, port::LocalEcho::Off);
    EXPECT_EQ(s.lines[0].dispensers[1].number, 32);
}

// The station service's section is kept as it was written, for zarvikd to check.
TEST(StationFile, ServiceSection_IsKeptAsJsonText) {
    EXPECT_EQ(ParseStationFile(Station(Line("")), "x").service, "");
    const StationFile s =
        ParseStationFile(R"({"service": {"listen": "127.0.0.1:0", "tokens": "/t"}, "lines": [)" + Line("") + "]}", "x");
    EXPECT_EQ(s.service, R"({"listen":"127.0.0.1:0","tokens":"/t"})");
}

TEST(StationFile, UnreadableOrHugeFiles_AreRefusedUnread) {
    try {
        ReadStationFile("/nonexistent/station.json");
        ADD_FAILURE() << "accepted";
    } catch (const StationFileError& e) {
        EXPECT_EQ(e.Key(), "$");
        EXPECT_EQ(e.Problem(), "cannot be read");
    }
    const std::string huge = ::testing::TempDir() + "huge-station.json";
    {
        std::ofstream out(huge);
        out << Station(Line("")) << std::string(kStationFileLimit, ' ');
    }
    try {
        ReadStationFile(huge);
        ADD_FAILURE() << "accepted";
    } catch (const StationFileError& e) {
        EXPECT_EQ(e.Key(), "$");
        EXPECT_EQ(e.Problem(), "larger than 1048576 bytes");
    }
    std::filesystem::remove(huge);
}

#if !defined(_WIN32)
// One device under two names, as a /dev/serial/by-id link and its target:
// two lines on it would both poll the same dispensers.
TEST(StationFile, OneDeviceUnderTwoNames_IsRefusedNamingBoth) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / ("station-alias-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(pty, 0);
    ASSERT_EQ(::grantpt(pty), 0);
    ASSERT_EQ(::unlockpt(pty), 0);
    const std::string terminal = ::ptsname(pty);
    const std::string file = (dir / "ttyFILE").string();
    std::ofstream(file).put('\n');
    fs::create_symlink(terminal, dir / "by-id-pty");
    fs::create_symlink(file, dir / "by-id-file");
    const auto twoLines = [](const std::string& first, const std::string& second) {
        return Station(R"({"line": 1, "device": ")" + first + R"(", "dispensers": [{"number": 1, "nozzles": 1}]},
                          {"line": 2, "device": ")" +
                       second + R"(", "dispensers": [{"number": 1, "nozzles": 1}]})");
    };
    const std::pair<std::string, std::string> aliases[] = {
        {(dir / "by-id-pty").string(), terminal},
        {file, (dir / "by-id-file").string()},
        {(dir / ".." / dir.filename() / "ttyFILE").string(), file},
    };
    for (const auto& [first, second] : aliases) {
        SCOPED_TRACE(first + " and " + second);
        try {
            ParseStationFile(twoLines(first, second), "station.json");
            ADD_FAILURE() << "accepted";
        } catch (const StationFileError& e) {
            EXPECT_EQ(e.Key(), "$.lines[1].device");
            EXPECT_NE(e.Problem().find(second + " is " + first + " (line 1, $.lines[0]) under another name"),
                      std::string::npos)
                << e.Problem();
        }
    }
    // Two devices are two lines, whatever their names look like.
    EXPECT_NO_THROW(ParseStationFile(twoLines((dir / "by-id-pty").string(), file), "station.json"));
    ::close(pty);
    fs::remove_all(dir);
}
#endif

}  // namespace
}  // namespace zarvik::host
