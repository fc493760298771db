#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

class ParametersTest : public DriverTest {
protected:
    ParametersTest() {
        FakeTable t;
        t.name = "\xD2\xE0\xE1\xEB\xE8\xF6\xE0";  // "Таблица" in code page 1251
        t.rows = 3;
        t.fields = {{"A", 1, 1, 0x9D, 0xFF}, {"B", 2, 2, 0, 0x1234}};
        dispenser.tables[2] = t;
    }

    std::vector<std::uint8_t> Body(std::size_t i) const {
        const auto f = port.Frames().at(i);
        return {f.begin() + 2, f.end() - 1};
    }
};

// Description replies as a dispenser would send them, built by hand.
std::vector<std::uint8_t> TableReply(std::size_t len, const std::string& name, std::uint16_t rows,
                                     std::uint8_t fields) {
    std::vector<std::uint8_t> data(len, 0);
    data[0] = 0x2D;
    for (std::size_t i = 0; i < name.size() && 2 + i < len; ++i) data[2 + i] = static_cast<std::uint8_t>(name[i]);
    if (len > 43) data[42] = rows & 0xFF, data[43] = rows >> 8;
    if (len > 44) data[44] = fields;
    return Frame(5, data);
}

TEST_F(ParametersTest, CodeIsTakenApartWithTheMillionsDigitDropped) {
    for (std::int32_t code : {1020321, 2020321, 20321}) {
        port.calls.clear();
        driver.ReadParameter(1, 5, code);
        EXPECT_EQ(Hex(Body(0)), "05 05 1F 02 03 00 15") << code;
    }
}

// The row travels as two bytes whose high byte is 0 for every 32-bit code;
// a negative code gives negative parts, of which the low bytes are sent.
TEST_F(ParametersTest, RowHighByteIsZeroForEveryCode) {
    struct Case {
        std::int32_t code;
        const char* body;
    };
    const Case cases[] = {
        {1020321, "05 05 1F 02 03 00 15"},   {1999999, "05 05 1F 63 63 00 63"},
        {-1020321, "05 05 1F FE FD 00 EB"},  // table -2, row -3, field -21
        {-1, "05 05 1F 00 00 00 FF"},        {-100, "05 05 1F 00 FF 00 00"},
        {INT32_MIN, "05 05 1F D0 DC 00 D0"},  // -2147483648: table -48, row -36, field -48
        {INT32_MAX, "05 05 1F 30 24 00 2F"},  // 2147483647: table 48, row 36, field 47
    };
    for (const auto& c : cases) {
        port.calls.clear();
        driver.ReadParameter(1, 5, c.code);
        EXPECT_EQ(Hex(Body(0)), c.body) << c.code;
    }
}

// A field description that announces no value bytes: nothing would be
// stored, so the write is refused with line result 3 and nothing is sent
// after the description.
TEST_F(ParametersTest, WriteToAFieldOfWidthZeroIsRefused) {
    dispenser.tables[2].fields[0].width = 0;
    driver.WriteParameter(1, 5, 1020201, 7);
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{0x2E}));
    EXPECT_EQ(driver.GetLineResult(1), 3);
}

struct ReadCase {
    std::vector<std::uint8_t> data;  // reply bytes 4..
    std::uint8_t lineResult;
    std::int32_t value;
};

TEST_F(ParametersTest, ReadValueWidthFollowsLen) {
    const ReadCase cases[] = {
        {{0x1F, 0x00}, 3, 0},                                   // LEN 2: too short
        {{0x1F, 0x00, 0x9D}, 1, 0x9D},                          // LEN 3: one byte
        {{0x1F, 0x00, 0x34, 0x12}, 1, 0x1234},                  // LEN 4
        {{0x1F, 0x00, 0x78, 0x56, 0x34, 0x12}, 1, 0x12345678},  // LEN 6: four bytes
        {{0x1F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 1, -1},          // all 32 bits
        {{0x1F, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05}, 3, 0},     // LEN 7: wider than 32 bits
    };
    for (const auto& c : cases) {
        port.Push(Frame(5, c.data));
        const std::int32_t value = driver.ReadParameter(1, 5, 1020321);
        EXPECT_EQ(driver.GetLineResult(1), c.lineResult) << Hex(c.data);
        if (c.lineResult == 1) {
            EXPECT_EQ(value, c.value) << Hex(c.data);
        }
    }
}

TEST_F(ParametersTest, WriteSendsTheFieldWidthAfterItsDescription) {
    driver.WriteParameter(1, 5, 1020201, 0x1234);  // field 1: width 1
    driver.WriteParameter(1, 5, 1020202, 0x1234);  // field 2: width 2
    ASSERT_EQ(port.Frames().size(), 4u);
    EXPECT_EQ(Hex(Body(0)), "05 03 2E 02 01");
    EXPECT_EQ(Hex(Body(1)), "05 06 1E 02 02 00 01 34");
    EXPECT_EQ(Hex(Body(2)), "05 03 2E 02 02");
    EXPECT_EQ(Hex(Body(3)), "05 07 1E 02 02 00 02 34 12");
    EXPECT_EQ(dispenser.values[FakeDispenser::Key(2, 2, 2)], 0x1234u);
    EXPECT_EQ(driver.GetLineResult(1), 1);
}

TEST_F(ParametersTest, RefusedWriteSetsThree) {
    dispenser.writeAnswer = 1;
    driver.WriteParameter(1, 5, 1020202, 7);
    EXPECT_EQ(driver.GetLineResult(1), 3);
}

TEST_F(ParametersTest, WriteWithoutAGoodDescriptionSendsNothing) {
    auto reply = TableReply(44, "", 0, 0);
    reply[0] = 0x07;  // bad start byte: line result 3, error 223
    port.Push(reply);
    driver.WriteParameter(1, 5, 1020202, 7);
    EXPECT_EQ(port.Frames().size(), 1u);
    EXPECT_EQ(driver.GetLineResult(1), 3);
}

TEST_F(ParametersTest, FailedExchangesRaise) {
    TTableInfo table;
    TFieldInfo field;
    for (int i = 0; i < 4; ++i) port.script.push_back({.throwInStart = true});
    EXPECT_THROW(driver.ReadParameter(1, 5, 1020201), ESerialIO);
    EXPECT_THROW(driver.WriteParameter(1, 5, 1020201, 1), ESerialIO);
    EXPECT_EQ(port.Frames().size(), 2u) << "the write stopped at its description";
    EXPECT_THROW(driver.ReadTableInfo(1, 5, 2, table), ESerialIO);
    EXPECT_THROW(driver.ReadFieldInfo(1, 5, 2, 1, field), ESerialIO);
}

TEST_F(ParametersTest, TableDescription) {
    TTableInfo info;
    driver.ReadTableInfo(1, 5, 2, info);
    EXPECT_EQ(Hex(Body(0)), "05 02 2D 02");
    EXPECT_EQ(info.Name.view(), "\xD2\xE0\xE1\xEB\xE8\xF6\xE0");
    EXPECT_EQ(info.RowCount, 3);
    EXPECT_EQ(info.FieldCount, 2);
}

struct NameCase {
    std::string sent;
    std::string kept;
};

TEST_F(ParametersTest, NamesEndAtZeroOrFortyCharacters) {
    const NameCase cases[] = {
        {"", ""},
        {std::string(40, 'x'), std::string(40, 'x')},
        {std::string("ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) {
        port.Push(TableReply(45, c.sent, 0x0102, 9));
        TTableInfo info;
        info.Name.Length = 3;
        driver.ReadTableInfo(1, 5, 1, info);
        EXPECT_EQ(std::string(info.Name.view()), c.kept);
        EXPECT_EQ(info.RowCount, 0x0102);
        EXPECT_EQ(info.FieldCount, 9);
    }
}

TEST_F(ParametersTest, ShortDescriptionsLeaveTheRecord) {
    // LEN 43 fails the threshold; LEN 44 passes it but lacks the field count.
    for (std::size_t len : {43u, 44u}) {
        port.Push(TableReply(len, "T", 3, 12));
        TTableInfo info;
        info.RowCount = 77;
        driver.ReadTableInfo(1, 5, 1, info);
        EXPECT_EQ(driver.GetLineResult(1), 3) << len;
        EXPECT_EQ(info.RowCount, 77) << len;
        EXPECT_EQ(info.Name.Length, 0) << len;
    }
}

struct FieldCase {
    const char* name;
    std::vector<std::uint8_t> tail;  // bytes 46.. (type, width, limits)
    std::size_t len;
    std::uint8_t lineResult;
    std::int32_t low, high;
};

TEST_F(ParametersTest, FieldDescriptionLimits) {
    const FieldCase cases[] = {
        {"width 1, zero-extended", {7, 1, 0x9D, 0xFE}, 46, 1, 157, 254},
        {"width 2", {7, 2, 0x34, 0x12, 0xFF, 0xFF}, 48, 1, 0x1234, 0xFFFF},
        {"width 4", {7, 4, 1, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}, 52, 1, INT32_MIN + 1, INT32_MAX},
        {"width 0", {7, 0}, 44, 1, 0, 0},
        {"width 5 is wider than a value", {7, 5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 54, 3, -9, -9},
        {"limits cut short", {7, 2, 0x34, 0x12, 0xFF}, 47, 3, -9, -9},
        {"LEN 43", {7, 1}, 43, 3, -9, -9},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> data(c.len, 0);
        data[0] = 0x2E;
        data[2] = 'F';
        for (std::size_t i = 0; i < c.tail.size() && 42 + i < c.len; ++i) data[42 + i] = c.tail[i];
        port.Push(Frame(5, data));
        TFieldInfo info;
        info.LowLimit = info.HighLimit = -9;
        driver.ReadFieldInfo(1, 5, 2, 1, info);
        EXPECT_EQ(driver.GetLineResult(1), c.lineResult) << c.name;
        EXPECT_EQ(info.LowLimit, c.low) << c.name;
        EXPECT_EQ(info.HighLimit, c.high) << c.name;
        if (c.lineResult == 1) {
            EXPECT_EQ(info.Name.view(), "F") << c.name;
            EXPECT_EQ(info.DataType, 7) << c.name;
        }
    }
}

}  // namespace
}  // namespace zarvik::testing
