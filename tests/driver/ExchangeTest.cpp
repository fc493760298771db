#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "DriverFixture.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

using ExchangeTest = DriverTest;

TEST_F(ExchangeTest, SequenceCountsPerLineAndWraps) {
    port.record = false;
    std::uint8_t buffer[8];
    std::vector<int> seen;
    for (int i = 0; i < 257; ++i) {
        buffer[0] = 1;
        buffer[1] = 0x98;
        buffer[2] = 0;
        port.record = (i == 0 || i == 255 || i == 256);
        port.calls.clear();
        driver.Exchange(1, buffer, 3, 8);
        if (port.record) seen.push_back(port.Frames().at(0)[1]);
        if (i == 10) {  // a frame on line 2 starts its own count
            port.record = true;
            port.calls.clear();
            driver.Exchange(2, buffer, 3, 8);
            EXPECT_EQ(port.Frames().at(0)[1], 0);
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(driver.lineSequence(2), 1);
}

TEST_F(ExchangeTest, CallsThePortServiceInOrderWithItsArguments) {
    std::uint8_t buffer[8] = {0x01, 0x97, 0x00};
    EXPECT_EQ(driver.Exchange(3, buffer, 3, 8), 0);
    EXPECT_EQ(port.CallNames(), (std::vector<std::string>{"SetReplyChecker", "StartTransfer", "SetLineState",
                                                          "SetLineError", "WaitTransfer", "GetLineState"}));
    const PortCall& start = port.calls[1];
    EXPECT_EQ(start.args, (std::vector<std::int64_t>{3, 3, 7, 8, 2, 0}));  // line, line, frame length, reply, 2, 0
    EXPECT_EQ(Hex(start.frame), "02 00 01 02 97 00 94");
    EXPECT_EQ(driver.lineResult(3), 1);
}

TEST_F(ExchangeTest, RegistersTheDriversCheckerBeforeEveryTransfer) {
    std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
    driver.Exchange(4, buffer, 3, 8);
    ASSERT_TRUE(port.checker[4]);
    EXPECT_EQ(port.checker[4].data, &driver);
    const auto good = Frame(1, {0x98, 0, 0});
    std::int32_t length = static_cast<std::int32_t>(good.size()) + 0x100;  // only the low byte counts
    EXPECT_TRUE(port.checker[4](4, good.data(), length));
    EXPECT_EQ(port.state[4], 1);
    EXPECT_EQ(port.error[4], 0);
}

struct FailureCase {
    const char* name;
    ScriptedReply reply;
    std::int32_t expectedCode;
};

TEST_F(ExchangeTest, TransportFailuresReturnTheLineErrorAndKeepLineResult) {
    const FailureCase cases[] = {
        {"StartTransfer raises", {.throwInStart = true}, kFakeTransportError},
        {"WaitTransfer raises", {.bytes = Frame(1, {0x98, 0, 0}), .throwInWait = true}, kFakeTransportError},
        {"GetLineState raises", {.bytes = Frame(1, {0x98, 0, 0}), .throwInGetLineState = true}, kFakeTransportError},
        {"WaitTransfer returns a code", {.bytes = Frame(1, {0x98, 0, 0}), .waitCode = 55}, 55},
    };
    for (const auto& c : cases) {
        driver.lineResult(1) = 7;  // what the previous exchange left
        port.script.push_back(c.reply);
        std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
        EXPECT_EQ(driver.Exchange(1, buffer, 3, 8), c.expectedCode) << c.name;
        if (c.reply.waitCode == 0) {
            EXPECT_EQ(driver.lineResult(1), 7) << c.name;
        }
    }
}

// The reply length each command hands to the port service: the exact
// length where the reply is fixed, the longest it allows otherwise.
TEST_F(ExchangeTest, ExpectedReplyLengthOfEveryCommandAtThePortService) {
    dispenser.tables[2] = FakeTable{"T", 1, {{"F", 0, 2, 0, 100}}};
    struct Case {
        const char* name;
        std::function<void(TVM30&)> call;
        std::vector<std::pair<int, int>> lengths;  // (command, expected reply length) per exchange
    };
    const Case cases[] = {
        {"status",
         [](TVM30& d) {
             TDispenserStatus s{};
             d.GetDispenserStatus(1, 1, 1, s);
         },
         {{0x9F, 35}}},
        {"clear", [](TVM30& d) { d.ClearNozzle(1, 1, 1); }, {{0x98, 8}}},
        {"start", [](TVM30& d) { d.StartNozzle(1, 1, 1, 0); }, {{0x97, 8}}},
        {"stop", [](TVM30& d) { d.StopNozzle(1, 1, 1, 1); }, {{0x96, 8}}},
        {"litres dose", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 1.0); }, {{0x93, 17}}},
        {"money dose", [](TVM30& d) { d.SetMoneyDose(1, 1, 1, 0, 1.0); }, {{0x94, 17}}},
        {"price", [](TVM30& d) { d.SetNozzlePrice(1, 1, 1, 0, 0, 1.0); }, {{0x9A, 8}}},
        {"total",
         [](TVM30& d) {
             double t = 0;
             d.ReadNozzleTotal(1, 1, 1, t, 0, 0, 0);
         },
         {{0x9B, 12}}},
        {"parameter read", [](TVM30& d) { d.ReadParameter(1, 1, 1020101); }, {{0x1F, 42}}},
        {"parameter write", [](TVM30& d) { d.WriteParameter(1, 1, 1020101, 5); }, {{0x2E, 60}, {0x1E, 42}}},
        {"table description",
         [](TVM30& d) {
             TTableInfo t;
             d.ReadTableInfo(1, 1, 2, t);
         },
         {{0x2D, 60}}},
        {"field description",
         [](TVM30& d) {
             TFieldInfo f;
             d.ReadFieldInfo(1, 1, 2, 1, f);
         },
         {{0x2E, 60}}},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        c.call(driver);
        std::vector<std::pair<int, int>> seen;
        for (const auto& call : port.calls)
            if (call.name == "StartTransfer") seen.emplace_back(call.frame.at(4), static_cast<int>(call.args[3]));
        EXPECT_EQ(seen, c.lengths) << c.name;
    }
}

// LineResult is what GetLineState reports after the wait, also when the
// wait itself returned a failure code.
TEST_F(ExchangeTest, LineResultFollowsGetLineStateAlsoWhenTheWaitFails) {
    auto bad = Frame(1, {0x98, 0, 0});
    bad.back() ^= 1;
    const struct {
        const char* name;
        std::vector<std::uint8_t> reply;
        std::uint8_t lineResult;
    } cases[] = {{"good reply, wait code 55", Frame(1, {0x98, 0, 0}), 1}, {"bad reply, wait code 55", bad, 3}};
    for (const auto& c : cases) {
        driver.lineResult(1) = 7;
        port.script.push_back({.bytes = c.reply, .waitCode = 55});
        std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
        EXPECT_EQ(driver.Exchange(1, buffer, 3, 8), 55) << c.name;
        EXPECT_EQ(driver.lineResult(1), c.lineResult) << c.name;
    }
}

TEST_F(ExchangeTest, ARaisedTransferBecomesESerialIOInTheCommand) {
    port.script.push_back({.throwInStart = true});
    driver.lineResult(1) = 1;
    TDispenserStatus status{};
    try {
        driver.GetDispenserStatus(1, 1, 1, status);
        FAIL() << "no error";
    } catch (const ESerialIO& e) {
        EXPECT_EQ(e.what(), protocol::ToHostText("Невозможно выполнить запрос состояния ТРК"));
    }
    EXPECT_EQ(driver.lineResult(1), 1);
}

TEST_F(ExchangeTest, AnErrorFromSetReplyCheckerReachesTheCaller) {
    port.throwInSetReplyChecker = true;
    std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
    EXPECT_THROW(driver.Exchange(1, buffer, 3, 8), std::runtime_error);
    EXPECT_EQ(driver.lineSequence(1), 1);  // the frame was built all the same
}

TEST_F(ExchangeTest, BadReplyLeavesLineResultThree) {
    auto reply = Frame(1, {0x98, 0, 0});
    reply.back() ^= 0x55;
    port.Push(reply);
    std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
    EXPECT_EQ(driver.Exchange(1, buffer, 3, 8), 0);
    EXPECT_EQ(driver.lineResult(1), 3);
    EXPECT_EQ(port.error[1], 222);
}

TEST_F(ExchangeTest, CommandBytesLeftInTheBufferNeverPassForAReply) {
    // The checker is skipped and the service reports a good line with no
    // bytes: the buffer must not still hold the request.
    port.state[1] = 1;
    port.script.push_back({.skipChecker = true});
    std::uint8_t buffer[35] = {0x01, 0x9F, 0x00};
    std::fill(buffer + 3, buffer + 35, 0xAA);
    EXPECT_EQ(driver.Exchange(1, buffer, 3, 35), 0);
    for (std::uint8_t b : buffer) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace zarvik::testing

namespace zarvik::testing {
namespace {

// One operation of each kind that exchanges, for the tables below.
struct ExchangingOperation {
    const char* name;
    std::function<void(TVM30&)> call;
};
const ExchangingOperation kExchangingOperations[] = {
    {"price", [](TVM30& d) { d.SetNozzlePrice(1, 1, 1, 0, 0, 1.0); }},
    {"litres dose", [](TVM30& d) { d.SetVolumeDose(1, 1, 1, 0, 1.0); }},
    {"money dose", [](TVM30& d) { d.SetMoneyDose(1, 1, 1, 0, 1.0); }},
    {"start", [](TVM30& d) { d.StartNozzle(1, 1, 1, 0); }},
    {"stop", [](TVM30& d) { d.StopNozzle(1, 1, 1, 1); }},
    {"status",
     [](TVM30& d) {
         TDispenserStatus s{};
         d.GetDispenserStatus(1, 1, 1, s);
     }},
    {"total",
     [](TVM30& d) {
         double t = 0;
         d.ReadNozzleTotal(1, 1, 1, t, 0, 0, 0);
     }},
    {"parameter read", [](TVM30& d) { d.ReadParameter(1, 1, 1020101); }},
};

// A service that raises in the transfer without recording a line error
// (GetLineError 0): the exchange still fails, with a code of the driver's own.
TEST_F(ExchangeTest, ARaisedTransferWithNoLineErrorStillFails) {
    for (const bool inWait : {false, true}) {
        port.script.push_back(
            {.throwInStart = !inWait, .throwInWait = inWait, .skipChecker = true, .raiseRecordsNoError = true});
        std::uint8_t buffer[8] = {0x01, 0x98, 0x00};
        EXPECT_EQ(driver.Exchange(1, buffer, 3, 8), kErrorTransferRaised) << "in wait " << inWait;
    }
    for (const auto& op : kExchangingOperations) {
        port.script.push_back({.throwInStart = true, .raiseRecordsNoError = true});
        EXPECT_THROW(op.call(driver), ESerialIO) << op.name << " returned as if sent";
    }
}

// A driver the factory made with no port service: every operation that needs
// the service raises a clear error and sends nothing; the others work.
TEST(DriverWithoutPortService, OperationsThatNeedItRaiseAClearError) {
    TVM30 driver(0, nullptr);
    const std::string text = protocol::ToHostText("Драйвер создан без службы портов: обмен с ТРК невозможен");
    std::vector<ExchangingOperation> operations(std::begin(kExchangingOperations), std::end(kExchangingOperations));
    operations.push_back({"open", [](TVM30& d) { d.OpenPort(1); }});
    operations.push_back({"reset", [](TVM30& d) { d.ResetDispenser(1, 1, 1, 0); }});
    operations.push_back({"parameter write", [](TVM30& d) { d.WriteParameter(1, 1, 1020101, 5); }});
    for (const auto& op : operations) {
        try {
            op.call(driver);
            ADD_FAILURE() << op.name << ": no error";
        } catch (const ESerialIO& e) {
            ADD_FAILURE() << op.name << ": reported as a failed exchange: " << e.what();
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), text) << op.name;
        }
        EXPECT_EQ(driver.lineSequence(1), 0) << op.name << ": a frame was built";
    }
    double volume = -1, amount = -1;
    driver.GetDeliveryValues(1, 1, volume, amount);
    EXPECT_EQ(volume, 0.0);
    EXPECT_EQ(driver.GetLineResult(1), 1);
}

}  // namespace
}  // namespace zarvik::testing
