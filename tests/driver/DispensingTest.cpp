#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "DriverFixture.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

using DispensingTest = DriverTest;

// The request frame of one operation, its payload after the header and the
// reply length the driver asked for.
struct CommandCase {
    const char* name;
    std::function<void(TVM30&)> call;
    std::string payload;  // bytes 2..n+2 of the frame: address, code, data
    int replyLength;
};

TEST_F(DispensingTest, PayloadsAndReplyLengths) {
    const CommandCase cases[] = {
        {"start nozzle 2 of dispenser 1", [](TVM30& d) { d.StartNozzle(1, 1, 2, 0); }, "01 02 97 01", 8},
        {"start dispenser 4 nozzle 1", [](TVM30& d) { d.StartDispenser(1, 4, 1); }, "02 02 97 05", 8},
        {"stop nozzle 3 of dispenser 2", [](TVM30& d) { d.StopNozzle(1, 2, 3, 1); }, "01 02 96 07", 8},
        {"stop dispenser 1", [](TVM30& d) { d.StopDispenser(1, 1, 1); }, "01 02 96 00", 8},
        {"stop dispenser 2: nozzle 1 is byte 5", [](TVM30& d) { d.StopDispenser(1, 2, 1); }, "01 02 96 05", 8},
        {"10 litres", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 10.0); }, "01 06 93 00 10 27 00 00", 17},
        {"1.001 litres", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 1.001); }, "01 06 93 00 E9 03 00 00", 17},
        {"1.0009 litres is cut", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 1.0009); }, "01 06 93 00 E8 03 00 00", 17},
        {"500.00 money", [](TVM30& d) { d.SetMoneyDose(1, 1, 1, 0, 500.0); }, "01 07 94 00 50 C3 00 00 00", 17},
        {"price 45.67", [](TVM30& d) { d.SetNozzlePrice(1, 1, 1, 0, 0, 45.67); }, "01 08 9A 00 2C 01 00 D7 11 00", 8},
        {"total of dispenser 32 nozzle 6",
         [](TVM30& d) {
             double t;
             d.ReadNozzleTotal(1, 32, 6, t, 0, 0, 0);
         },
         "10 02 9B 0A", 12},
        {"volume dose, line/dispenser/nozzle by low byte",
         [](TVM30& d) { d.SetVolumeDose(0x101, 0x201, 0x301, 0, 0.5); }, "01 06 93 00 F4 01 00 00", 17},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        c.call(driver);
        const auto frames = port.Frames();
        ASSERT_EQ(frames.size(), 1u) << c.name;
        const std::vector<std::uint8_t> body(frames[0].begin() + 2, frames[0].end() - 1);
        EXPECT_EQ(Hex(body), c.payload) << c.name;
        for (const auto& call : port.calls)
            if (call.name == "StartTransfer") {
                EXPECT_EQ(call.args[3], c.replyLength) << c.name;
            }
    }
}

// Quantities are scaled in extended precision. Each value here lies so close
// to a unit boundary that the same sum formed in double precision rounds up
// to the next integer: a driver that scales in double sends one unit more.
TEST_F(DispensingTest, ScalingIsExtendedPrecisionNotDouble) {
    const CommandCase cases[] = {
        {"1.001995 litres: 1001, not 1002", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 1.001995); },
         "01 06 93 00 E9 03 00 00", 17},
        {"12.804995 litres: 12804, not 12805", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 12.804995); },
         "01 06 93 00 04 32 00 00", 17},
        {"money 1.08995: 108, not 109", [](TVM30& d) { d.SetMoneyDose(1, 1, 1, 0, 1.08995); },
         "01 07 94 00 6C 00 00 00 00", 17},
        {"money 3000.72995: 300072, not 300073", [](TVM30& d) { d.SetMoneyDose(1, 1, 1, 0, 3000.72995); },
         "01 07 94 00 28 94 04 00 00", 17},
        {"price 601.01995: 60101, not 60102", [](TVM30& d) { d.SetNozzlePrice(1, 1, 1, 0, 0, 601.01995); },
         "01 08 9A 00 2C 01 00 C5 EA 00", 8},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        c.call(driver);
        const auto frames = port.Frames();
        ASSERT_EQ(frames.size(), 1u) << c.name;
        EXPECT_EQ(Hex({frames[0].begin() + 2, frames[0].end() - 1}), c.payload) << c.name;
    }
}

// Every operation that takes a nozzle takes its low byte before the range
// check: 0x102 is nozzle 2 (nozzle byte 1 of dispenser 1).
TEST_F(DispensingTest, NozzleArgumentIsItsLowByteForEveryOperation) {
    const CommandCase cases[] = {
        {"19 StartNozzle", [](TVM30& d) { d.StartNozzle(1, 1, 0x102, 0); }, "01 02 97 01", 8},
        {"15 StartDispenser", [](TVM30& d) { d.StartDispenser(1, 1, 0x102); }, "01 02 97 01", 8},
        {"23 ResetDispenser", [](TVM30& d) { d.ResetDispenser(1, 1, 0x102, 0); }, "01 02 96 01", 8},
        {"22 StopNozzle", [](TVM30& d) { d.StopNozzle(1, 1, 0x102, 1); }, "01 02 96 01", 8},
        {"13 SetVolumeDose", [](TVM30& d) { d.SetVolumeDose(1, 1, 0x102, 0, 1.0); }, "01 06 93 01 E8 03 00 00", 17},
        {"14 SetMoneyDose", [](TVM30& d) { d.SetMoneyDose(1, 1, 0x102, 0, 1.0); }, "01 07 94 01 64 00 00 00 00", 17},
        {"7 ReadNozzleTotal",
         [](TVM30& d) {
             double total = 0;
             d.ReadNozzleTotal(1, 1, 0x102, total, 0, 0, 0);
         },
         "01 02 9B 01", 12},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        ASSERT_NO_THROW(c.call(driver)) << c.name;
        const auto frames = port.Frames();
        ASSERT_EQ(frames.size(), 1u) << c.name;
        EXPECT_EQ(Hex({frames[0].begin() + 2, frames[0].end() - 1}), c.payload) << c.name;
    }
    EXPECT_EQ(driver.selectedNozzle(1, 1), 2) << "the start recorded nozzle 2";
    // Operation 21 takes the low byte of its nozzle count the same way.
    port.calls.clear();
    TDispenserStatus status{};
    driver.GetDispenserStatus(1, 1, 0x102, status);
    EXPECT_EQ(port.Frames().size(), 2u);
}

// Operations 7, 21 and 22 take the low byte of the dispenser argument before
// the range check: 0x120 is dispenser 32, the last one, whose nozzle 1 is
// nozzle byte 5 of bus address 16; 0x102 is dispenser 2.
TEST_F(DispensingTest, DispenserArgumentIsItsLowByte) {
    dispenser.Nozzle(32, 1).status = 4;  // lifted
    const CommandCase cases[] = {
        {"21 GetDispenserStatus of dispenser 32",
         [](TVM30& d) {
             TDispenserStatus status{};
             d.GetDispenserStatus(1, 32, 1, status);
             EXPECT_EQ(status.State, 0xE1);
         },
         "10 02 9F 05", 35},
        {"21 GetDispenserStatus, 0x120",
         [](TVM30& d) {
             TDispenserStatus status{};
             d.GetDispenserStatus(1, 0x120, 1, status);
             EXPECT_EQ(status.State, 0xE1);
         },
         "10 02 9F 05", 35},
        {"22 StopNozzle, 0x102", [](TVM30& d) { d.StopNozzle(1, 0x102, 1, 1); }, "01 02 96 05", 8},
        {"7 ReadNozzleTotal, 0x120",
         [](TVM30& d) {
             double total = 0;
             d.ReadNozzleTotal(1, 0x120, 1, total, 0, 0, 0);
         },
         "10 02 9B 05", 12},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        EXPECT_NO_THROW(c.call(driver)) << c.name;
        EXPECT_EQ(driver.GetLineResult(1), 1) << c.name;
        const auto frames = port.Frames();
        EXPECT_EQ(frames.size(), 1u) << c.name;
        if (frames.size() == 1u) {
            EXPECT_EQ(Hex({frames[0].begin() + 2, frames[0].end() - 1}), c.payload) << c.name;
        }
    }
}

TEST(DispensingOptions, PriceWithOptionBitSevenClearsFirst) {
    FakePortManager port;
    FakeDispenser dispenser;
    port.responder = [&](auto... a) { return dispenser.Respond(a...); };
    TVM30 driver(0x80, &port);
    driver.SetNozzlePrice(1, 2, 3, 0, 0, 45.67);
    const auto frames = port.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex({frames[0].begin() + 2, frames[0].end() - 1}), "01 02 98 07");
    EXPECT_EQ(Hex({frames[1].begin() + 2, frames[1].end() - 1}), "01 08 9A 07 2C 01 00 D7 11 00");
    EXPECT_EQ(dispenser.Nozzle(2, 3).price, 4567u);
}

TEST(DispensingOptions, ABadClearDoesNotStopThePrice) {
    FakePortManager port;
    TVM30 driver(0x80, &port);
    port.script.push_back({.throwInStart = true});  // the clear
    port.Push(Frame(1, {0x9A, 0, 0}));
    EXPECT_NO_THROW(driver.SetNozzlePrice(1, 1, 1, 0, 0, 1.0));
    EXPECT_EQ(port.Frames().size(), 2u);
    EXPECT_EQ(driver.lineResult(1), 1);
}

TEST_F(DispensingTest, StartRecordsTheNozzleEvenWhenTheExchangeRaises) {
    port.script.push_back({.throwInStart = true});
    try {
        driver.StartNozzle(1, 5, 3, 0);
        FAIL();
    } catch (const ESerialIO& e) {
        EXPECT_EQ(e.what(), protocol::ToHostText("Невозможно выполнить запрос состояния ТРК"));
    }
    EXPECT_EQ(driver.selectedNozzle(1, 5), 3);
}

struct RefusalCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::uint8_t lineResult;
};

TEST_F(DispensingTest, RefusedStartsAndStopsSetTheirCodes) {
    const RefusalCase cases[] = {
        {"accepted", Frame(1, {0x97, 0x00, 0x00}), 1},
        {"refused by byte 5", Frame(1, {0x97, 0x01, 0x00}), 0},
        {"bad checksum",
         [] {
             auto f = Frame(1, {0x97, 0, 0});
             f.back() ^= 1;
             return f;
         }(),
         0},
        {"good frame without byte 5", Frame(1, {0x97}), 0},
    };
    for (const auto& c : cases) {
        port.Push(c.reply);
        driver.StartNozzle(1, 1, 1, 0);
        EXPECT_EQ(driver.lineResult(1), c.lineResult ? 1 : 10) << "start: " << c.name;
        port.Push(c.reply);
        driver.StopNozzle(1, 1, 1, 1);
        EXPECT_EQ(driver.lineResult(1), c.lineResult ? 1 : 14) << "stop: " << c.name;
    }
}

TEST_F(DispensingTest, StopWithFlagZeroSendsNothing) {
    driver.lineResult(1) = 9;
    driver.StopNozzle(1, 1, 1, 0x100);  // low byte 0
    driver.StopDispenser(1, 1, 0);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(driver.lineResult(1), 9);
}

TEST_F(DispensingTest, ResetReturnsTheDispenserToIdleAndStops) {
    driver.dispenserState(1, 3) = 0xD9;
    driver.ResetDispenser(1, 3, 2, 0);
    EXPECT_EQ(driver.dispenserState(1, 3), 192);
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{0x96}));
    EXPECT_EQ(port.Frames()[0][5], 1);
}

// Operations 4, 15 and 23 reach 22, 19 and 22 through the virtual table.
class OverridingDriver : public TVM30 {
public:
    using TVM30::TVM30;
    std::vector<std::string> seen;
    std::int32_t StartNozzle(std::int32_t line, std::int32_t d, std::int32_t k, std::int32_t extra) override {
        seen.push_back("start " + std::to_string(k) + " " + std::to_string(extra));
        return TVM30::StartNozzle(line, d, k, extra);
    }
    void StopNozzle(std::int32_t, std::int32_t, std::int32_t k, std::int32_t flag) override {
        seen.push_back("stop " + std::to_string(k) + " " + std::to_string(flag));
    }
};

TEST(DispensingVirtual, ThinOperationsGoThroughTheVirtualTable) {
    FakePortManager port;
    FakeDispenser dispenser;
    port.responder = [&](auto... a) { return dispenser.Respond(a...); };
    OverridingDriver driver(0, &port);
    TDriver25& host = driver;
    host.StartDispenser(1, 1, 2);
    host.StopDispenser(1, 1, 5);
    host.ResetDispenser(1, 1, 3, 0);
    EXPECT_EQ(driver.seen, (std::vector<std::string>{"start 2 1", "stop 1 5", "stop 3 1"}));
}

TEST_F(DispensingTest, TotalIsReadOnlyFromAGoodReply) {
    double total = -1;
    port.Push(Frame(1, {0x9B, 0, 0, 0x10, 0x27, 0x00, 0x00}));
    driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0);
    EXPECT_EQ(total, 10.0);

    total = -1;
    auto bad = Frame(1, {0x9B, 0, 0, 0x10, 0x27, 0x00, 0x00});
    bad[0] = 0;
    port.Push(bad);
    driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0);
    EXPECT_EQ(total, -1);

    port.Push(Frame(1, {0x9B, 0, 0, 0x10}));  // good frame, counter missing
    driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0);
    EXPECT_EQ(total, -1);
    EXPECT_EQ(driver.lineResult(1), 3);

    port.script.push_back({.throwInStart = true});
    EXPECT_THROW(driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0), ESerialIO);
}

TEST_F(DispensingTest, DeliveryValuesFollowTheSelectedNozzle) {
    driver.nozzleVolume(2, 1, 1) = 1.5;
    driver.nozzleAmount(2, 1, 1) = 2.5;
    driver.nozzleVolume(2, 1, 3) = 10.0;
    driver.nozzleAmount(2, 1, 3) = 456.7;
    double volume = 0, amount = 0;
    EXPECT_EQ(driver.GetDeliveredVolume(2, 1, amount), 1.5);
    EXPECT_EQ(amount, 2.5);
    driver.StartNozzle(2, 1, 3, 0);
    driver.GetDeliveryValues(2, 1, volume, amount);
    EXPECT_EQ(volume, 10.0);
    EXPECT_EQ(amount, 456.7);
}

TEST_F(DispensingTest, FailedDoseAndPriceExchangesCarryTheirTexts) {
    struct Case {
        std::function<void()> call;
        const char* text;
    };
    const Case cases[] = {
        {[&] { driver.SetVolumeDose(1, 1, 1, 0, 1.0); }, "Невозможно выполнить установку дозы отпуска в литрах"},
        {[&] { driver.SetMoneyDose(1, 1, 1, 0, 1.0); }, "Невозможно выполнить установку дозы отпуска в рублях"},
        {[&] { driver.SetNozzlePrice(1, 1, 1, 0, 0, 1.0); }, "Невозможно выполнить установку дозы отпуска в литрах"},
    };
    for (const auto& c : cases) {
        port.script.push_back({.bytes = Frame(1, {0, 0, 0}), .waitCode = 301});
        try {
            c.call();
            ADD_FAILURE() << c.text;
        } catch (const ESerialIO& e) {
            EXPECT_EQ(e.what(), protocol::ToHostText(c.text));
        }
    }
}

// A quantity whose scaled integer does not fit its field is refused before
// anything is sent: cutting it would preset another amount.
TEST_F(DispensingTest, QuantitiesThatDoNotFitAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"litres above 4294967.295", [&] { driver.SetVolumeDose(1, 1, 1, 0, 4294967.296); }},
        {"negative litres", [&] { driver.SetVolumeDose(1, 1, 1, 0, -0.5); }},
        {"NaN litres", [&] { driver.SetVolumeDose(1, 1, 1, 0, nan); }},
        {"infinite money", [&] { driver.SetMoneyDose(1, 1, 1, 0, inf); }},
        {"money above 42949672.95", [&] { driver.SetMoneyDose(1, 1, 1, 0, 42949673.0); }},
        {"price above 167772.15", [&] { driver.SetNozzlePrice(1, 1, 1, 0, 0, 167772.16); }},
        {"negative price", [&] { driver.SetNozzlePrice(1, 1, 1, 0, 0, -1.0); }},
        {"coefficient above 16777.215",
         [&] {
             driver.nozzleCoefficient(1, 1, 1) = 16777.216;
             driver.SetNozzlePrice(1, 1, 1, 0, 0, 1.0);
         }},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        EXPECT_THROW(c.call(), Exception) << c.name;
        EXPECT_TRUE(port.calls.empty()) << c.name;
    }
    // The largest values that fit still go out.
    driver.nozzleCoefficient(1, 1, 1) = 0.3;
    EXPECT_NO_THROW(driver.SetVolumeDose(1, 1, 1, 0, 4294967.295));
    EXPECT_NO_THROW(driver.SetNozzlePrice(1, 1, 1, 0, 0, 167772.15));
    EXPECT_EQ(dispenser.Nozzle(1, 1).volumeDose, 4294967295u);
    EXPECT_EQ(dispenser.Nozzle(1, 1).price, 16777215u);
}

}  // namespace
}  // namespace zarvik::testing
