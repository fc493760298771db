// The driver on the real serial port service against the simulated station.
#include <gtest/gtest.h>

#include <thread>

#include "SimulatedLine.h"
#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "zarvik/exceptions.h"

// This file's helpers in a namespace of their own: the unity build compiles it with
// the layer's other test files, where names such as kLine recur.
namespace zarvik::testing::port_integration {
namespace {

constexpr int kLine = SimulatedLine::kLine;
constexpr std::uint8_t kKindMask = 0xF8;

// Polls until the dispenser's code has the wanted kind or the attempts run out.
std::uint8_t PollUntil(SimulatedLine& s, int dispenser, int nozzles, std::uint8_t kind, int attempts = 400) {
    TDispenserStatus st{};
    for (int i = 0; i < attempts; ++i) {
        s.driver().GetDispenserStatus(kLine, dispenser, nozzles, st);
        if (s.lineResult() == 1 && (st.State & kKindMask) == kind) return st.State;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return st.State;
}

TEST(SerialLine, WholeDelivery_EndsAtTheDoseWithMatchingMoneyAndTotal) {
    // The customer is the test: the finished state lasts until the hang-up,
    // however slowly a loaded machine polls.
    sim::StationConfig station = QuickStation();
    station.autoNozzle = false;
    SimulatedLine s(0, station);
    auto& d = s.driver();
    d.SetNozzlePrice(kLine, 2, 3, 0, 0, 50.00);
    ASSERT_EQ(s.lineResult(), 1);
    d.SetVolumeDose(kLine, 2, 3, 0, 10.0);
    ASSERT_EQ(s.lineResult(), 1);
    d.StartNozzle(kLine, 2, 3, 0);
    ASSERT_EQ(s.lineResult(), 1);
    s.station().LiftNozzle(2, 3, sim::SimClock::now());

    EXPECT_EQ(PollUntil(s, 2, 3, 0xD0), 0xD0 + 3) << "finished on nozzle 3";
    TDispenserStatus st{};
    d.GetDispenserStatus(kLine, 2, 3, st);
    double volume = 0, money = 0;
    d.GetDeliveryValues(kLine, 2, volume, money);
    EXPECT_DOUBLE_EQ(volume, 10.0);
    EXPECT_DOUBLE_EQ(money, 500.0);
    EXPECT_EQ(s.station().Nozzle(2, 3).volume, 10000u);

    // The customer hangs up; the driver clears the finished-and-hung state.
    s.station().HangUpNozzle(2, 3, sim::SimClock::now());
    EXPECT_EQ(PollUntil(s, 2, 3, 0xC0), 0xC0);
    double total = -1;
    d.ReadNozzleTotal(kLine, 2, 3, total, 0, 0, 0);
    ASSERT_EQ(s.lineResult(), 1);
    EXPECT_DOUBLE_EQ(total, 10.0);
    EXPECT_EQ(s.port().Statistics(kLine).bad, 0u);
}

TEST(SerialLine, PriceChange_ClearsFirstOnlyWithOptionBit7) {
    const struct {
        std::int32_t options;
        std::vector<std::uint8_t> commands;
    } cases[] = {
        {0x00, {protocol::kCmdPrice}},
        {0x80, {protocol::kCmdClear, protocol::kCmdPrice}},
    };
    for (const auto& c : cases) {
        SimulatedLine s(c.options);
        s.TakeSentCommands();
        s.driver().SetNozzlePrice(kLine, 1, 2, 0, 0, 45.67);
        EXPECT_EQ(s.lineResult(), 1) << "options " << c.options;
        EXPECT_EQ(s.TakeSentCommands(), c.commands) << "options " << c.options;
        EXPECT_EQ(s.station().Nozzle(1, 2).price, 4567u) << "options " << c.options;
        EXPECT_EQ(s.station().Nozzle(1, 2).coefficientField, 300u);
    }
}

TEST(SerialLine, Parameters_DescriptionsReadAndWriteRoundTrip) {
    SimulatedLine s;
    auto& d = s.driver();
    TTableInfo table;
    d.ReadTableInfo(kLine, 1, 2, table);
    ASSERT_EQ(s.lineResult(), 1);
    EXPECT_GT(table.Name.Length, 0);
    EXPECT_EQ(table.FieldCount, 21);
    EXPECT_GE(table.RowCount, 1);

    TFieldInfo field;
    d.ReadFieldInfo(kLine, 1, 2, 21, field);
    ASSERT_EQ(s.lineResult(), 1);
    EXPECT_GT(field.Name.Length, 0);
    EXPECT_GE(field.DataSize, 1);
    EXPECT_LE(field.DataSize, 4);

    // A value inside the field's limits goes in and comes back.
    const int code = 1000000 + 2 * 10000 + 1 * 100 + 21;
    const std::int32_t value = 5;
    d.WriteParameter(kLine, 1, code, value);
    ASSERT_EQ(s.lineResult(), 1);
    EXPECT_EQ(s.station().Parameter(1, 2, 1, 21), std::optional<std::uint32_t>(5));
    EXPECT_EQ(d.ReadParameter(kLine, 1, code), 5);
    EXPECT_EQ(s.lineResult(), 1);

    // A table that does not exist is not described; the record stays.
    const TTableInfo before = table;
    d.ReadTableInfo(kLine, 1, 42, table);
    EXPECT_NE(s.lineResult(), 1);
    EXPECT_EQ(table.FieldCount, before.FieldCount);
    EXPECT_EQ(table.Name.view(), before.Name.view());
}

TEST(SerialLine, Status13_ReportsIdleAndSendsTheClear) {
    SimulatedLine s;
    s.station().ForceStatus(1, 1, 13);
    s.TakeSentCommands();
    TDispenserStatus st{};
    s.driver().GetDispenserStatus(kLine, 1, 1, st);
    EXPECT_EQ(s.lineResult(), 1);
    EXPECT_EQ(st.NozzleStates[0], 192);
    EXPECT_EQ(s.driver().dispenserState(kLine, 1), 192);
    EXPECT_EQ(s.TakeSentCommands(), (std::vector<std::uint8_t>{protocol::kCmdStatus, protocol::kCmdClear}));
}

TEST(SerialLine, HungUpDevice_IsADeviceErrorAndNoCrash) {
    SimulatedLine s;
    TDispenserStatus st{};
    s.driver().GetDispenserStatus(kLine, 1, 1, st);
    ASSERT_EQ(s.lineResult(), 1);
    s.StopSimulator();  // the far end closes: the pty hangs up
    EXPECT_THROW(s.driver().GetDispenserStatus(kLine, 1, 1, st), ESerialIO);
    EXPECT_NE(s.lineError(), 0);
    // The device is gone for good: every later exchange fails cleanly.
    EXPECT_THROW(s.driver().GetDispenserStatus(kLine, 1, 1, st), ESerialIO);
    EXPECT_NE(s.lineError(), 0);
    const auto stats = s.port().Statistics(kLine);
    EXPECT_EQ(stats.exchanges, stats.good + stats.bad);
}

TEST(SerialPortManager, LinesWithoutDeviceOrOutOfRange_FailWithTheirCodes) {
    port::SerialPortManager port;
    EXPECT_EQ(port.OpenLine(0, 3, 9600, 64, 3, 0), port::kErrorNoSuchLine);
    EXPECT_EQ(port.OpenLine(33, 3, 9600, 64, 3, 0), port::kErrorNoSuchLine);
    EXPECT_EQ(port.OpenLine(2, 3, 9600, 64, 3, 0), port::kErrorNoDevicePath);
    port.SetDevice(2, "/nonexistent/tty");
    EXPECT_EQ(port.OpenLine(2, 3, 9600, 64, 3, 0), port::kErrorNotOpen);

    const std::uint8_t frame[] = {0x02, 0x00, 0x01, 0x02, 0x9F, 0x00, 0x9C};
    std::uint8_t reply[35];
    EXPECT_EQ(port.WaitTransfer(port.StartTransfer(2, 2, frame, sizeof frame, reply, sizeof reply, 2, 0)),
              port::kErrorNotOpen);
    EXPECT_EQ(port.GetLineError(2), port::kErrorNotOpen);
    EXPECT_EQ(port.GetLineState(2), kLineStateBad);
    EXPECT_EQ(port.WaitTransfer(port.StartTransfer(40, 40, frame, sizeof frame, reply, sizeof reply, 2, 0)),
              port::kErrorNoSuchLine);
    EXPECT_NE(port.GetLineError(40), 0);
}

TEST(SerialPortManager, ReopensThroughTheOpenHandlerWhenTheLineIsClosed) {
    SimulatedLine s;
    s.port().CloseLine(kLine);
    ASSERT_FALSE(s.port().IsOpen(kLine));
    TDispenserStatus st{};
    s.driver().GetDispenserStatus(kLine, 1, 1, st);
    EXPECT_EQ(s.lineResult(), 1);
    EXPECT_TRUE(s.port().IsOpen(kLine));
    EXPECT_EQ(s.port().Statistics(kLine).reopens, 1u);
}

}  // namespace
}  // namespace zarvik::testing::port_integration
