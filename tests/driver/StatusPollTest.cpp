#include <gtest/gtest.h>

#include <cstring>

#include "DriverFixture.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

using StatusPollTest = DriverTest;

// A well-formed 35-byte status reply carrying `status` in byte 31.
std::vector<std::uint8_t> StatusReply(std::uint8_t status) {
    std::vector<std::uint8_t> data(30, 0);
    data[31 - 4] = status;
    return Frame(1, data);
}

struct DecodeCase {
    std::uint8_t status;
    std::uint8_t before;  // DispenserState before the decoding
    std::uint8_t after;   // for nozzle 3
};

TEST_F(StatusPollTest, DecodingTable) {
    const DecodeCase cases[] = {
        {0, 0xE1, 192},   {1, 0xD3, 192},    {2, 0xE9, 192},   {9, 0xDA, 192},   {15, 0xD1, 192},  {3, 192, 0xEB},
        {5, 192, 0xEB},   {6, 0xD1, 0xEB},   {4, 192, 0xE3},   {7, 192, 0xDB},   {8, 0xE1, 0xDB},  {10, 192, 0xD3},
        {14, 0xE9, 0xD3}, {11, 192, 192},    {11, 0xE1, 0xD3}, {11, 0xD1, 0xD3}, {12, 192, 192},   {12, 209, 192},
        {12, 0xD3, 192},  {12, 213, 192},    {12, 208, 0xD3},  {12, 214, 0xD3},  {12, 0xD6, 0xD3}, {12, 0xE1, 0xD3},
        {16, 0xE9, 0xE9}, {200, 0xDA, 0xDA}, {255, 192, 192},
    };
    for (const auto& c : cases) {
        driver.dispenserState(1, 2) = c.before;
        EXPECT_EQ(driver.DecodeNozzleStatus(1, 2, c.status, 3), c.after)
            << "status " << int(c.status) << " from " << int(c.before);
        EXPECT_EQ(driver.dispenserState(1, 2), c.after);
    }
    EXPECT_TRUE(port.calls.empty()) << "only status 13 sends anything";
}

struct PollCase {
    const char* name;
    std::vector<std::uint8_t> statuses;  // per nozzle
    std::uint8_t state;
    std::uint8_t stateNozzle;
};

TEST_F(StatusPollTest, DispenserCodeChoice) {
    const PollCase cases[] = {
        {"all idle", {0, 0, 0}, 192, 0},
        {"idle then finished", {0, 10}, 0xD2, 2},
        {"lifted then delivering", {4, 7}, 0xDA, 2},
        {"authorised stays against finished", {3, 10}, 0xE9, 1},
        {"delivering stays against authorised", {8, 5}, 0xD9, 1},
        {"lower nozzle wins between equals", {7, 7}, 0xD9, 1},
        {"idle gives way to lifted", {0, 0, 4}, 0xE3, 3},
        // Not symmetric: a code of the 0xE0 band gives way to the 0xD0/0xD8
        // bands but not to the 0xE8 band; bands that never give way keep the
        // lower-numbered nozzle.
        {"lifted does not give way to authorised", {4, 3}, 0xE1, 1},
        {"authorised does not give way to lifted", {3, 4}, 0xE9, 1},
        {"lifted gives way to finished", {4, 10}, 0xD2, 2},
        {"finished stays against delivering", {10, 7}, 0xD1, 1},
        {"delivering stays against finished", {7, 10}, 0xD9, 1},
        {"two lifted: the lower nozzle", {0, 4, 4}, 0xE2, 2},
        {"two authorised: the lower nozzle", {3, 5}, 0xE9, 1},
    };
    for (const auto& c : cases) {
        for (std::size_t k = 0; k < c.statuses.size(); ++k)
            dispenser.Nozzle(1, static_cast<int>(k) + 1).status = c.statuses[k];
        driver.dispenserState(1, 1) = 192;
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, static_cast<std::int32_t>(c.statuses.size()), status);
        EXPECT_EQ(status.State, c.state) << c.name;
        EXPECT_EQ(status.StateNozzle, c.stateNozzle) << c.name;
        EXPECT_EQ(status.Reserved1, 0) << c.name;
        EXPECT_EQ(status.Reserved15, 0) << c.name;
    }
}

// Within one poll, statuses 11 and 12 of a later nozzle look at the state
// byte the earlier nozzle's decoding left.
TEST_F(StatusPollTest, LaterNozzleDecodesFromWhatTheEarlierOneLeft) {
    struct Case {
        const char* name;
        std::uint8_t first, second;
        std::uint16_t secondCode;
        std::uint8_t state;
    };
    const Case cases[] = {
        {"11 after idle stays idle", 0, 11, 192, 192},
        {"11 after finished is finished", 10, 11, 0xD2, 0xD1},
        {"12 after finished on nozzle 1 (209) is idle", 10, 12, 192, 0xD1},
        {"12 after delivering is finished", 7, 12, 0xD2, 0xD9},
        {"12 after authorised is finished", 3, 12, 0xD2, 0xE9},
    };
    for (const auto& c : cases) {
        dispenser.Nozzle(1, 1).status = c.first;
        dispenser.Nozzle(1, 2).status = c.second;
        driver.dispenserState(1, 1) = 192;
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, 2, status);
        EXPECT_EQ(status.NozzleStates[1], c.secondCode) << c.name;
        EXPECT_EQ(status.State, c.state) << c.name;
        EXPECT_EQ(driver.dispenserState(1, 1), c.secondCode) << c.name;
    }
}

// Bit 3 of the flags marks only an idle nozzle as lifted; a busy nozzle keeps
// its own code.
TEST_F(StatusPollTest, LiftedFlagChangesNothingForABusyNozzle) {
    const struct {
        std::uint8_t status;
        std::uint16_t code;
    } cases[] = {{7, 0xD9}, {3, 0xE9}, {10, 0xD1}, {4, 0xE1}};
    for (const auto& c : cases) {
        dispenser.Nozzle(1, 1) = FakeNozzle{.status = c.status, .flags = 0x08};
        driver.dispenserState(1, 1) = 192;
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, 1, status);
        EXPECT_EQ(status.NozzleStates[0], c.code) << int(c.status);
        EXPECT_EQ(driver.dispenserState(1, 1), c.code) << int(c.status);
    }
}

TEST_F(StatusPollTest, RecordLayoutAsTheHostReadsIt) {
    dispenser.Nozzle(2, 1).status = 0;
    dispenser.Nozzle(2, 2).status = 7;
    dispenser.Nozzle(2, 3).status = 3;
    TDispenserStatus status;
    std::memset(&status, 0xEE, sizeof status);
    driver.GetDispenserStatus(1, 2, 3, status);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&status);
    const std::uint8_t expected[16] = {0xDA, 0, 192, 0, 0xDA, 0, 0xEB, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 2, 0};
    EXPECT_EQ(Hex({bytes, bytes + 16}), Hex({expected, expected + 16}));
    // Dispenser 2 answers on address 1 with nozzle bytes 5, 6, 7.
    const auto frames = port.Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(frames[k][2], 1);
        EXPECT_EQ(frames[k][4], 0x9F);
        EXPECT_EQ(frames[k][5], 5 + k);
        EXPECT_EQ(port.calls[1].args[3], 35) << "expected reply length";
    }
}

TEST_F(StatusPollTest, ZeroNozzlesSendsNothingAndKeepsTheCallersEntries) {
    TDispenserStatus status;
    std::memset(&status, 0x44, sizeof status);
    driver.GetDispenserStatus(1, 1, 0x100, status);  // low byte 0
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(status.State, 0);
    EXPECT_EQ(status.StateNozzle, 0);
    EXPECT_EQ(status.Reserved1, 0);
    EXPECT_EQ(status.Reserved15, 0);
    EXPECT_EQ(status.NozzleStates[0], 0x4444);
}

TEST_F(StatusPollTest, MoreThanSixNozzlesPollsSix) {
    struct Guarded {
        TDispenserStatus status;
        std::uint8_t guard[16];
    } g;
    std::memset(&g, 0x5A, sizeof g);
    driver.GetDispenserStatus(1, 1, 9, g.status);
    EXPECT_EQ(port.Frames().size(), 6u);
    for (std::uint8_t b : g.guard) EXPECT_EQ(b, 0x5A);
}

TEST_F(StatusPollTest, CountersAreStoredFromEveryGoodReply) {
    dispenser.Nozzle(3, 2).volume = 0xFFFFFFFF;
    dispenser.Nozzle(3, 2).money = 123456;
    dispenser.Nozzle(3, 2).status = 2;
    TDispenserStatus status{};
    driver.GetDispenserStatus(1, 3, 2, status);
    EXPECT_DOUBLE_EQ(driver.nozzleVolume(1, 3, 2), 4294967.295);
    EXPECT_DOUBLE_EQ(driver.nozzleAmount(1, 3, 2), 1234.56);
}

TEST_F(StatusPollTest, LiftedFlagReportsTheNozzleButLeavesTheStateIdle) {
    dispenser.Nozzle(1, 2).flags = 0x08;
    TDispenserStatus status{};
    driver.GetDispenserStatus(1, 1, 2, status);
    EXPECT_EQ(status.NozzleStates[1], 226);
    EXPECT_EQ(status.State, 226);
    EXPECT_EQ(driver.dispenserState(1, 1), 192);
}

TEST_F(StatusPollTest, StatusThirteenClearsTheNozzle) {
    for (std::uint8_t flags : {0x00, 0x08}) {
        port.calls.clear();
        dispenser.Nozzle(1, 1) = FakeNozzle{.status = 13, .flags = flags};
        driver.dispenserState(1, 1) = 0xD1;
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, 1, status);
        EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{0x9F, 0x98}));
        EXPECT_EQ(port.Frames()[1][5], 0) << "same nozzle byte";
        EXPECT_EQ(status.NozzleStates[0], flags ? 0xE1 : 192);
        EXPECT_EQ(driver.dispenserState(1, 1), 192);
        EXPECT_EQ(dispenser.Nozzle(1, 1).clears, 1);
    }
}

TEST_F(StatusPollTest, ABadClearEndsThePollAfterItsNozzle) {
    dispenser.Nozzle(1, 1).status = 13;
    dispenser.Nozzle(1, 2).status = 7;
    port.Push(StatusReply(13));
    port.Push({0x02, 0x00});  // the clear: bad reply
    TDispenserStatus status{};
    driver.GetDispenserStatus(1, 1, 2, status);
    EXPECT_EQ(driver.lineResult(1), 3);
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{0x9F, 0x98}));
}

TEST_F(StatusPollTest, BadReplyEndsThePollQuietly) {
    dispenser.Nozzle(1, 1).status = 7;
    dispenser.Nozzle(1, 1).volume = 5000;
    TDispenserStatus first{};
    driver.GetDispenserStatus(1, 1, 1, first);
    ASSERT_EQ(driver.dispenserState(1, 1), 0xD9);

    port.calls.clear();
    auto reply = StatusReply(0);
    reply[0] = 0x05;
    port.Push(reply);
    TDispenserStatus status{};
    driver.GetDispenserStatus(1, 1, 3, status);
    EXPECT_EQ(driver.lineResult(1), 3);
    EXPECT_EQ(port.Frames().size(), 1u);
    EXPECT_EQ(driver.dispenserState(1, 1), 0xD9);
    EXPECT_DOUBLE_EQ(driver.nozzleVolume(1, 1, 1), 5.0);
}

// A frame that passes the checks but is too short for the status offsets is
// a bad reply: nothing is decoded from bytes that did not arrive.
TEST_F(StatusPollTest, ShortWellFormedReplyIsABadReply) {
    for (std::size_t len : {0u, 3u, 28u}) {
        driver.dispenserState(1, 1) = 0xD9;
        driver.nozzleVolume(1, 1, 1) = 7.0;
        auto reply = Frame(1, std::vector<std::uint8_t>(len, 0x08));  // 8 would read as "delivering"
        port.Push(reply);
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, 1, status);
        EXPECT_EQ(driver.lineResult(1), 3) << len;
        EXPECT_EQ(driver.dispenserState(1, 1), 0xD9) << len;
        EXPECT_EQ(driver.nozzleVolume(1, 1, 1), 7.0) << len;
    }
}

TEST_F(StatusPollTest, FailedExchangeRaisesAndKeepsEarlierNozzles) {
    dispenser.Nozzle(1, 1).status = 7;
    port.responder = nullptr;
    port.Push(StatusReply(7));
    port.script.push_back({.throwInStart = true});
    TDispenserStatus status{};
    EXPECT_THROW(driver.GetDispenserStatus(1, 1, 2, status), ESerialIO);
    EXPECT_EQ(status.NozzleStates[0], 0xD9);
    EXPECT_EQ(driver.dispenserState(1, 1), 0xD9);
}

}  // namespace
}  // namespace zarvik::testing
