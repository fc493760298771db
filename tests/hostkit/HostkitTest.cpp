// The host's small shared pieces: local time with its offset, state names,
// exit codes of errors, visible text, typed decimals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "hostkit/DecimalText.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/IsoTime.h"
#include "hostkit/StateNames.h"
#include "hostkit/VisibleText.h"
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

}  // namespace
}  // namespace zarvik::host
