// The host's small parts: state names, exit codes of errors, the outcome
// texts and the exchange log with its rotation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "DecimalText.h"
#include "ExchangeLog.h"
#include "ExitCodes.h"
#include "IsoTime.h"
#include "ShellWord.h"
#include "StateNames.h"
#include "Suggest.h"
#include "Version.h"
#include "VisibleText.h"
#include "port/PortErrors.h"
#include "protocol/Cp1251.h"

namespace zarvik::host {
namespace {

#if !defined(_WIN32)  // zones set through TZ
// Local time with the zone's own offset, east and west, whole and half hours.
TEST(IsoTime, LocalTimeWithItsUtcOffset) {
    struct Case {
        const char* zone;
        const char* text;
    };
    const Case cases[] = {
        {"UTC0", "2026-12-08T13:04:52+00:00"},
        {"<+0530>-5:30", "2026-12-08T18:34:52+05:30"},
        {"<-03>3", "2026-12-08T10:04:52-03:00"},
        {"<-0930>9:30", "2026-12-08T03:34:52-09:30"},
    };
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    const auto moment = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{13} +
                        std::chrono::minutes{4} + std::chrono::seconds{52} + std::chrono::milliseconds{999};
    for (const Case& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        EXPECT_EQ(IsoTime(moment), c.text) << c.zone;
    }
    ::setenv("TZ", "<+03>-3", 1);
    ::tzset();
    EXPECT_EQ(IsoTime(moment, true), "2026-12-08T16:04:52.999000+03:00");
    if (saved != nullptr)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
#endif

TEST(StateNames, EveryKindWithAnyNozzle_HasItsNames) {
    struct Case {
        std::uint8_t code;
        StateKind kind;
        const char* text;
        const char* russian;
    };
    const Case cases[] = {
        {0xC0, StateKind::Idle, "idle", "Свободна"},
        {0xE8 + 1, StateKind::Authorised, "authorised", "Разрешён отпуск"},
        {0xE0 + 6, StateKind::NozzleUp, "nozzle up", "Пистолет снят"},
        {0xD8 + 3, StateKind::Delivering, "delivering", "Отпуск топлива"},
        {0xD0 + 2, StateKind::Finished, "finished", "Отпуск завершён"},
        {0xC8, StateKind::Unknown, "unknown", "Неизвестно"},  // takes part in the choice, never polled
        {0x00, StateKind::Unknown, "unknown", "Неизвестно"},  // no nozzle answered
        {0xF0, StateKind::Unknown, "unknown", "Неизвестно"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.code});
        const StateName n = NameDispenserState(c.code);
        EXPECT_EQ(n.kind, c.kind);
        EXPECT_STREQ(n.text, c.text);
        EXPECT_STREQ(n.russian, c.russian);
    }
}

TEST(ExitCodes, EachErrorKind_HasItsCode) {
    EXPECT_EQ(ExitCodeOf(ESerialIO("Невозможно выполнить запрос состояния ТРК")), kExitExchangeFailed);
    EXPECT_EQ(ExitCodeOf(Exception("Номер ТРК вне диапазона")), kExitUsage);  // refused before sending
    EXPECT_EQ(ExitCodeOf(UsageError("x")), kExitUsage);
    EXPECT_EQ(ExitCodeOf(ConfigError("x")), kExitConfig);
    EXPECT_EQ(ExitCodeOf(HostError(kExitNotGood, "x")), kExitNotGood);
    EXPECT_EQ(ExitCodeOf(std::runtime_error("x")), kExitExchangeFailed);
}

TEST(ExitCodes, Worse_KeepsTheMoreSeriousOutcome) {
    const ExitCode order[] = {kExitOk,    kExitRecordIncomplete, kExitNotGood,    kExitExchangeFailed,
                              kExitUsage, kExitConfig,           kExitInterrupted};
    for (std::size_t i = 0; i < std::size(order); ++i)
        for (std::size_t j = 0; j < std::size(order); ++j) {
            EXPECT_EQ(Worse(order[i], order[j]), order[std::max(i, j)]) << order[i] << " " << order[j];
        }
}

// Controls from a dispenser, a file or another process reach the terminal
// as \xNN; code page 1251's 0x80-0x9F are letters once decoded and stay.
TEST(VisibleText, ControlsAreShownAndLettersKept) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"\x1B]0;owned\x07name", "\\x1B]0;owned\\x07name"},
        {"a\rb\bc\x7F\n", "a\\x0Db\\x08c\\x7F\\x0A"},
        {"\xC2\x9B"
         "2J \xC2\x85",
         "\\x9B2J \\x85"},                                         // C1 controls CSI and NEL in UTF-8
        {"\xFF\xC3(", "\\xFF\\xC3("},                              // not UTF-8
        {cp1251::ToUtf8("\x80\x8A\x9A \xCE\xE1\xF9"), "ЂЉљ Общ"},  // letters of code page 1251
    };
    for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.out) << c.in;
}

TEST(DecimalText, OneSeparatorPointOrCommaAndNothingGuessed) {
    const struct {
        const char* text;
        double value;  // < 0: refused
    } cases[] = {
        {"56.30", 56.30}, {"56,30", 56.30}, {"7", 7.0}, {",5", 0.5}, {"1,000.50", -1},
        {"1.000,50", -1}, {"1 000", -1},    {"", -1},   {"-3", -1},  {"1e400", -1},
    };
    for (const auto& c : cases) {
        const DecimalReading r = ReadDecimalText(c.text);
        if (c.value < 0) {
            EXPECT_FALSE(r.value) << c.text;
            EXPECT_FALSE(r.error.empty()) << c.text;
        } else {
            EXPECT_EQ(r.value, c.value) << c.text;
        }
    }
}

TEST(Suggest, NearestNameWithinAThirdOfTheWord) {
    const std::vector<std::string> names{"status", "start", "stop", "stats", "--nozzle", "--nozzles", "--port"};
    EXPECT_EQ(Nearest("stauts", names), "status");
    EXPECT_EQ(Nearest("--prot", names), "--port");
    EXPECT_EQ(Nearest("--nozle", names), "--nozzle");
    EXPECT_EQ(Nearest("bogus", names), "");
}

TEST(ShellWord, PathsArePastedSafely) {
    EXPECT_EQ(ShellWord("/var/lib/a-1.json"), "/var/lib/a-1.json");
    EXPECT_EQ(ShellWord("/tmp/my dump's.json"), "'/tmp/my dump'\\''s.json'");
    EXPECT_EQ(ShellWord("$(rm -rf x)"), "'$(rm -rf x)'");
}

TEST(ExchangeLog, Outcomes_NameWhatTheExchangeCameTo) {
    const auto now = std::chrono::system_clock::now();
    struct Case {
        port::ExchangeOutcome outcome;
        std::string cause;
        std::string text;
    };
    const Case cases[] = {
        {{now, 1, 0, kLineStateGood, 0}, "", "good"},
        {{now, 1, 0, kLineStateBad, kReplyBadChecksum},
         "",
         "bad reply: " + std::string(port::DescribeLineError(kReplyBadChecksum)) + " (222)"},
        {{now, 1, port::kErrorTimeout, kLineStateBad, port::kErrorTimeout},
         "ignored",
         "no reply: " + std::string(port::DescribeLineError(port::kErrorTimeout)) + " (300)"},
        {{now, 1, port::kErrorDevice, kLineStateBad, port::kErrorDevice},
         "hang-up: the device went away",
         "failed: " + std::string(port::DescribeLineError(port::kErrorDevice)) +
             " (301): hang-up: the device went away"},
        {{now, 1, port::kErrorNotOpen, kLineStateBad, port::kErrorNotOpen},
         "",
         "failed: " + std::string(port::DescribeLineError(port::kErrorNotOpen)) + " (302)"},
    };
    for (const Case& c : cases) EXPECT_EQ(DescribeOutcome(c.outcome, c.cause), c.text);
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Scratch(const std::string& name) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / ("exchange-log-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

port::FrameTraceEvent Event(port::FrameDirection direction, const std::vector<std::uint8_t>& bytes, int line = 1) {
    return {std::chrono::system_clock::now(), line, direction, {bytes.data(), bytes.size()}};
}

TEST(ExchangeLog, FramesAreWrittenWithTheirExchangesOutcome_AndAppended) {
    const std::string path = Scratch("appended.log");
    const std::vector<std::uint8_t> request{0x02, 0x80, 0x01, 0x02, 0x9F, 0x00, 0x1C};
    const std::vector<std::uint8_t> reply{0x02, 0x80, 0x01, 0x01, 0x9F, 0x1F};
    for (int run = 0; run < 2; ++run) {
        ExchangeLog log(path);
        log.Opened(1, "/dev/ttyS0", "good");
        log.Frame(Event(port::FrameDirection::Sent, request));
        log.Frame(Event(port::FrameDirection::Sent, request, 2));  // another line's exchange under way
        log.Frame(Event(port::FrameDirection::Received, reply));
        log.Outcome({std::chrono::system_clock::now(), 1, 0, kLineStateBad, kReplyBadLength}, "bad reply: x (223)");
        log.Outcome({std::chrono::system_clock::now(), 2, port::kErrorTimeout, kLineStateBad, 300}, "no reply");
        log.Outcome({std::chrono::system_clock::now(), 3, port::kErrorNotOpen, kLineStateBad, 302}, "failed");
        EXPECT_EQ(log.Error(), "");
    }
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 10u);
    const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )";
    const std::string expected[] = {
        "line 1 open /dev/ttyS0 [good]",
        "line 1 sent 02 80 01 02 9F 00 1C [bad reply: x (223)]",
        "line 1 received 02 80 01 01 9F 1F [bad reply: x (223)]",
        "line 2 sent 02 80 01 02 9F 00 1C [no reply]",
        "line 3 - [failed]",
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(time + ".*")));
        EXPECT_EQ(lines[i].substr(27), expected[i % 5]);
    }
}

TEST(ExchangeLog, FullFile_IsRotatedAndOnlyTheKeptFilesRemain) {
    const std::string path = Scratch("rotated.log");
    const std::vector<std::uint8_t> frame(40, 0x55);
    {
        ExchangeLog log(path, 2000, 2);
        for (int i = 0; i < 200; ++i) {
            log.Frame(Event(port::FrameDirection::Sent, frame));
            log.Outcome({std::chrono::system_clock::now(), 1, 0, kLineStateGood, 0}, "good " + std::to_string(i));
        }
        EXPECT_EQ(log.Error(), "");
    }
    for (const std::string& file :
         {path, path.substr(0, path.size() - 4) + ".1.log", path.substr(0, path.size() - 4) + ".2.log"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(std::filesystem::exists(file));
        EXPECT_LE(std::filesystem::file_size(file), 2000u);
        for (const auto& line : FileLines(file)) EXPECT_NE(line.find(" [good "), std::string::npos) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(path.substr(0, path.size() - 4) + ".3.log"));
    // The newest record is in the current file.
    EXPECT_NE(FileLines(path).back().find("[good 199]"), std::string::npos);
}

TEST(ExchangeLog, UnwritablePath_IsAConfigurationError) {
    // A regular file where its folder should be: no user, root included, can create it.
    const std::string notAFolder = Scratch("not-a-folder");
    std::ofstream(notAFolder) << "x";
    const std::string path = notAFolder + "/exchanges.log";
    try {
        ExchangeLog log(path);
        ADD_FAILURE() << "opened";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Code(), kExitConfig);
        EXPECT_NE(std::string(e.what()).find("cannot write the log " + path), std::string::npos) << e.what();
    }
}

TEST(Version, LibraryVersion_IsReadFromTheLoadedFilesName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/lib/libZarvikTrk.so.1.0.0.35", "1.0.0.35"},
        {"build/lib/library/libZarvikTrk.so.1", "1"},
        {"/opt/x.so.d/libZarvikTrk.so", ""},  // ".so." in a folder's name is not the file's version
        {"/usr/lib/libZarvikTrk.so", ""},
        {"ZarvikTrk.dll", ""},
    };
    for (const auto& [file, version] : cases) EXPECT_EQ(LibraryVersionOf(file), version) << file;
}

}  // namespace
}  // namespace zarvik::host
