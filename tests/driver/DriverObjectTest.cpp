#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "DriverFixture.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

using DriverObjectTest = DriverTest;

TEST_F(DriverObjectTest, StartsWithTheInitialTables) {
    for (int line = 1; line <= 32; ++line) {
        EXPECT_EQ(driver.GetLineResult(line), 1);
        EXPECT_EQ(driver.lineSequence(line), 0);
        for (int d = 1; d <= 32; ++d) {
            EXPECT_EQ(driver.dispenserState(line, d), 192);
            EXPECT_EQ(driver.selectedNozzle(line, d), 1);
            for (int k = 1; k <= 6; ++k) EXPECT_EQ(driver.nozzleCoefficient(line, d, k), 0.3);
        }
    }
    double volume = -1, amount = -1;
    driver.GetDeliveryValues(5, 7, volume, amount);
    EXPECT_EQ(volume, 0.0);
    EXPECT_EQ(amount, 0.0);
    EXPECT_EQ(driver.GetDeliveredVolume(5, 7, amount), 0.0);
    EXPECT_EQ(driver.PortManager, &port);
    EXPECT_FALSE(driver.OptionBit7);
}

TEST(DriverOptions, OnlyBitSevenOfTheLowByteCounts) {
    FakePortManager port;
    const std::pair<std::int32_t, bool> cases[] = {{0x80, true},   {0xFF, true},  {0x7F, false},
                                                   {0x100, false}, {0x180, true}, {-1, true}};
    for (const auto& [options, bit7] : cases) EXPECT_EQ(TVM30(options, &port).OptionBit7, bit7) << options;
}

TEST_F(DriverObjectTest, LineResultIsStoredPerLine) {
    driver.SetLineResult(4, 7);
    EXPECT_EQ(driver.GetLineResult(4), 7);
    EXPECT_EQ(driver.GetLineResult(5), 1);
    driver.SetLineResult(4 + 256, 0x1209);  // low bytes of both
    EXPECT_EQ(driver.GetLineResult(4), 9);
}

TEST_F(DriverObjectTest, OutOfRangeLinesAreIgnoredByTheLineResultOperations) {
    unsigned char before[sizeof driver.LineResult];
    std::memcpy(before, driver.LineResult, sizeof before);
    for (int line : {0, 33, 255, -1}) {
        driver.SetLineResult(line, 9);
        EXPECT_EQ(driver.GetLineResult(line), 0) << line;
    }
    EXPECT_EQ(std::memcmp(before, driver.LineResult, sizeof before), 0);
}

TEST_F(DriverObjectTest, CapabilitiesComeFromTheFixedTable) {
    const std::int32_t expected[] = {1, 0, 1, 1, 1, 0, 100};
    for (std::uint32_t kind = 1; kind <= 7; ++kind) {
        std::int32_t value = -5;
        EXPECT_TRUE(driver.QueryCapability(kind, value)) << kind;
        EXPECT_EQ(value, expected[kind - 1]) << kind;
    }
    for (std::uint32_t kind : {0u, 8u, 0xFFFFFFFFu}) {
        std::int32_t value = -5;
        EXPECT_FALSE(driver.QueryCapability(kind, value)) << kind;
        EXPECT_EQ(value, -5) << kind;
    }
}

TEST_F(DriverObjectTest, DriverInfoIsTheCp1251ShortString) {
    TShortString info;
    std::memset(&info, 0x77, sizeof info);
    driver.DriverInfo(info);
    const unsigned char expected[] = {22,   'v',  '2',  '.', '5',  '0',  '#',  0xCF, 0xF0, 0xEE, 0xF2, 0xEE,
                                      0xEA, 0xEE, 0xEB, ' ', 0xC7, 0xE5, 0xED, 0xF2, 0xEE, '-',  0xCC};
    EXPECT_EQ(std::memcmp(&info, expected, sizeof expected), 0);
    EXPECT_TRUE(port.calls.empty());
}

TEST_F(DriverObjectTest, OpenPortRegistersTheHandlerThenOpensOnce) {
    port.openResult = -17;  // a failure code comes back unchanged
    EXPECT_EQ(driver.OpenPort(6), -17);
    EXPECT_EQ(port.CallNames(), (std::vector<std::string>{"SetOpenHandler", "OpenLine"}));
    EXPECT_EQ(port.calls[0].args, (std::vector<std::int64_t>{6}));
    EXPECT_EQ(port.calls[1].args, (std::vector<std::int64_t>{6, 3, 9600, 64, 3, 0}));
    // The service may reopen through the handler; it opens with the same values.
    port.calls.clear();
    port.openResult = 1;
    EXPECT_EQ(port.openHandler[6](6), 1);
    EXPECT_EQ(port.calls.at(0).args, (std::vector<std::int64_t>{6, 3, 9600, 64, 3, 0}));
}

TEST_F(DriverObjectTest, DoNothingOperationsDoNothing) {
    driver.Reserved0();
    driver.Reserved5(1);
    driver.Reserved8(1, 2, 3, 4, 5, 6, 7);
    EXPECT_EQ(driver.Reserved10(1, 2), 0);
    driver.Reserved12(1, 2, 3);
    EXPECT_TRUE(port.calls.empty());
}

// Every operation that indexes the tables refuses numbers outside them,
// sends nothing and leaves the tables as they were.
TEST_F(DriverObjectTest, OutOfRangeNumbersAreRefusedBeforeAnythingIsTouched) {
    double d = 0;
    TDispenserStatus status{};
    TTableInfo table;
    TFieldInfo field;
    struct Case {
        const char* name;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"stop dispenser, line 0", [&] { driver.StopDispenser(0, 1, 1); }},
        {"stop dispenser, dispenser 33", [&] { driver.StopDispenser(1, 33, 1); }},
        {"delivery values, line 33", [&] { driver.GetDeliveryValues(33, 1, d, d); }},
        {"delivery values, dispenser 0", [&] { driver.GetDeliveryValues(1, 0, d, d); }},
        {"delivered volume, dispenser 40", [&] { driver.GetDeliveredVolume(1, 40, d); }},
        {"total, nozzle 7", [&] { driver.ReadNozzleTotal(1, 1, 7, d, 0, 0, 0); }},
        {"total, nozzle 0", [&] { driver.ReadNozzleTotal(1, 1, 0, d, 0, 0, 0); }},
        {"price, nozzle 7", [&] { driver.SetNozzlePrice(1, 1, 7, 0, 0, 10.0); }},
        {"volume dose, line 33", [&] { driver.SetVolumeDose(33, 1, 1, 0, 1.0); }},
        {"money dose, dispenser 0", [&] { driver.SetMoneyDose(1, 0, 1, 0, 1.0); }},
        {"start dispenser, nozzle 9", [&] { driver.StartDispenser(1, 1, 9); }},
        {"start nozzle, line -1", [&] { driver.StartNozzle(-1, 1, 1, 0); }},
        {"start nozzle, dispenser 33", [&] { driver.StartNozzle(1, 33, 1, 0); }},
        {"stop nozzle, nozzle 7", [&] { driver.StopNozzle(1, 1, 7, 1); }},
        {"reset, dispenser 33", [&] { driver.ResetDispenser(1, 33, 1, 0); }},
        {"open, line 33", [&] { driver.OpenPort(33); }},
        {"read parameter, line 0", [&] { driver.ReadParameter(0, 1, 1010101); }},
        {"write parameter, line 33", [&] { driver.WriteParameter(33, 1, 1010101, 5); }},
        {"table info, line 0", [&] { driver.ReadTableInfo(0, 1, 1, table); }},
        {"field info, line 33", [&] { driver.ReadFieldInfo(33, 1, 1, 1, field); }},
        {"status, line 0", [&] { driver.GetDispenserStatus(0, 1, 1, status); }},
        {"status, line 33", [&] { driver.GetDispenserStatus(33, 1, 1, status); }},
    };
    TVM30 pristine(0, &port);
    for (const auto& c : cases) {
        EXPECT_THROW(c.call(), Exception) << c.name;
        EXPECT_TRUE(port.calls.empty()) << c.name;
        EXPECT_EQ(std::memcmp(&driver.LineResult, &pristine.LineResult,
                              reinterpret_cast<const char*>(&pristine.OptionBit7) -
                                  reinterpret_cast<const char*>(&pristine.LineResult)),
                  0)
            << c.name;
    }
}

TEST_F(DriverObjectTest, StatusPollKeepsItsOwnTextForDispensersAboveThirtyTwo) {
    TDispenserStatus status{};
    for (int dispenser : {33, 0}) {
        try {
            driver.GetDispenserStatus(1, dispenser, 1, status);
            FAIL() << dispenser;
        } catch (const ESerialIO&) {
            FAIL() << "must be the standard class, not ESerialIO";
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), protocol::ToHostText("Номер колонки выходит за допустимый диапозон"));
        }
    }
    EXPECT_TRUE(port.calls.empty());
}

}  // namespace
}  // namespace zarvik::testing
