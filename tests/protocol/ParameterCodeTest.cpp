// Parameter codes: packed as the window and the calibration dialog build
// them, unpacked as the driver takes them apart, and the parameter address a
// request carries.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/ParameterCode.h"
#include "support/FakePortManager.h"

namespace zarvik::protocol {
namespace {

TEST(PackParameterCode, MillionPlusTableRowAndField) {
    struct Case {
        std::int32_t table, row, field, code;
    };
    const Case cases[] = {{2, 3, 21, 1020321},   {1, 1, 1, 1010101}, {2, 0, 21, 1020021},
                          {99, 99, 99, 1999999}, {3, 1, 3, 1030103}, {2, 1000, 21, 1120021}};
    for (const auto& c : cases)
        EXPECT_EQ(PackParameterCode(c.table, c.row, c.field), c.code) << c.table << "/" << c.row << "/" << c.field;
}

TEST(UnpackParameterCode, SignedDivisionDropsTheMillionsDigit) {
    struct Case {
        std::int32_t code;
        int table, row, field;
    };
    const Case cases[] = {
        {1020321, 2, 3, 21},
        {2020321, 2, 3, 21},
        {1000000, 0, 0, 0},
        {999999, 99, 99, 99},
        {1999999, 99, 99, 99},
        {0, 0, 0, 0},
        // Negative codes keep the signs of C++ division, cut to bytes: the row
        // never brings a high byte along.
        {-1020321, 254, 253, 235},
        {-1, 0, 0, 255},
        {-100, 0, 255, 0},
    };
    for (const auto& c : cases) {
        const ParameterAddress a = UnpackParameterCode(c.code);
        EXPECT_EQ(a.table, c.table) << c.code;
        EXPECT_EQ(a.row, c.row) << c.code;
        EXPECT_EQ(a.field, c.field) << c.code;
    }
}

TEST(ParameterCode, EveryTableRowAndFieldRoundTrips) {
    for (int table = 1; table <= 99; table += 7)
        for (int row = 1; row <= 99; ++row)
            for (int field = 1; field <= 99; field += 5) {
                const ParameterAddress a = UnpackParameterCode(PackParameterCode(table, row, field));
                ASSERT_EQ(a.table, table);
                ASSERT_EQ(a.row, row);
                ASSERT_EQ(a.field, field);
            }
}

TEST(PutParameterAddress, TableRowLittleEndianField) {
    std::vector<std::uint8_t> bytes(6, 0xEE);
    EXPECT_EQ(PutParameterAddress(bytes.data(), UnpackParameterCode(1020321)), 4u);
    EXPECT_EQ(testing::Hex(bytes), "02 03 00 15 EE EE");
    PutParameterAddress(bytes.data(), ParameterAddress{7, 0x34, 9});
    EXPECT_EQ(testing::Hex(bytes), "07 34 00 09 EE EE");
    // A negative code's row: its low byte, high byte 0.
    PutParameterAddress(bytes.data(), UnpackParameterCode(-1020321));
    EXPECT_EQ(testing::Hex(bytes), "FE FD 00 EB EE EE");
}

}  // namespace
}  // namespace zarvik::protocol
