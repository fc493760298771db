// The request handler against golden request/reply bytes, on a fresh station
// (default configuration: addresses 1 and 2, three nozzles a dispenser, price 45.67).
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/Station.h"

namespace zarvik::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::FromHex;
using testing::Hex;

struct GoldenCase {
    const char* name;
    Bytes payload;  // address, command, data
    const char* reply;
};

class HandlerGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(HandlerGolden, AnswersWithTheExpectedBytes) {
    Station station;
    const Bytes request = Frame(0, GetParam().payload);
    const auto reply = station.Handle(request.data(), request.size(), TimePoint{});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(Hex(reply->bytes), Hex(FromHex(GetParam().reply)));
    EXPECT_EQ(reply->delay.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HandlerGolden,
    ::testing::Values(
        GoldenCase{"StatusIdle",
                   {0x01, 0x9F, 0x00},
                   "02 00 01 1E 9F 00 00 00 00 00 00 D7 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 46"},
        GoldenCase{"StatusNoSuchNozzle",
                   {0x01, 0x9F, 0x03},
                   "02 00 01 1E 9F 02 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 81"},
        GoldenCase{"StartWithoutDoseRefused", {0x01, 0x97, 0x00}, "02 00 01 03 97 01 00 94"},
        GoldenCase{"StopIdleAccepted", {0x01, 0x96, 0x00}, "02 00 01 03 96 00 00 94"},
        GoldenCase{"ClearIdleAccepted", {0x01, 0x98, 0x00}, "02 00 01 03 98 00 00 9A"},
        GoldenCase{"VolumeDoseEvenDispenser",
                   {0x01, 0x93, 0x05, 0x10, 0x27, 0x00, 0x00},
                   "02 00 01 0C 93 00 05 10 27 00 00 D7 11 00 00 00 6A"},
        GoldenCase{"MoneyDose",
                   {0x01, 0x94, 0x00, 0x50, 0xC3, 0x00, 0x00, 0x00},
                   "02 00 01 0C 94 00 00 50 C3 00 00 D7 11 00 00 00 CC"},
        GoldenCase{"Price", {0x01, 0x9A, 0x00, 0x2C, 0x01, 0x00, 0xD7, 0x11, 0x00}, "02 00 01 03 9A 00 00 98"},
        GoldenCase{"Total", {0x01, 0x9B, 0x00}, "02 00 01 07 9B 00 00 00 00 00 00 9D"},
        GoldenCase{"ReadCoefficientRow3", {0x01, 0x1F, 0x02, 0x03, 0x00, 0x15}, "02 00 01 04 1F 00 00 00 1A"},
        GoldenCase{"ReadOneByteField", {0x01, 0x1F, 0x01, 0x01, 0x00, 0x01}, "02 00 01 03 1F 00 01 1C"},
        GoldenCase{"ReadNoSuchTable", {0x01, 0x1F, 0x09, 0x01, 0x00, 0x01}, "02 00 01 02 1F 03 1F"},
        GoldenCase{"WriteCoefficient", {0x01, 0x1E, 0x02, 0x03, 0x00, 0x15, 0x64, 0x00}, "02 00 01 02 1E 00 1D"},
        GoldenCase{"WriteAboveLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x08, 0x09}, "02 00 01 02 1E 04 19"},
        GoldenCase{"TableDescription",
                   {0x01, 0x2D, 0x03},
                   "02 00 01 2D 2D 00 D1 E5 F0 E2 E8 F1 ED FB E5 20 EF E0 F0 E0 EC E5 F2 F0 FB 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 03 00"},
        GoldenCase{"FieldDescriptionSignedWidth2",
                   {0x01, 0x2E, 0x02, 0x15},
                   "02 00 01 30 2E 00 CF EE EF F0 E0 E2 EE F7 ED FB E9 20 EA EE FD F4 F4 E8 F6 E8 E5 ED F2 00 00 00 "
                   // Signed -32767..32767 inside; described by the whole width.
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 02 00 00 FF FF 13"}),
    [](const auto& info) { return std::string(info.param.name); });

// Limits are unsigned numbers of the field's width on the wire: every field of
// the built-in tables is described with its low limit at or below its high
// one, so a host can show them as they are.
TEST(Handler, EveryBuiltInFieldDescribesLimitsInOrder) {
    for (const auto& [number, table] : DefaultTables(8)) {
        for (std::size_t i = 0; i < table.fields.size(); ++i) {
            const FieldSpec& f = table.fields[i];
            const DescribedLimits limits = Describe(f);
            EXPECT_LE(limits.low, limits.high) << number << "/" << i + 1 << " " << f.name;
            // Every value the dispenser takes lies within what it describes.
            EXPECT_TRUE(WithinLimits(f, f.initial)) << number << "/" << i + 1;
            EXPECT_GE(f.initial, limits.low) << number << "/" << i + 1;
            EXPECT_LE(f.initial, limits.high) << number << "/" << i + 1;
        }
    }
}

TEST(Handler, RepliesEchoSequenceAndAddress) {
    Station station;
    const Bytes request = Frame(0xA5, {0x02, 0x9F, 0x07});  // dispenser 4, nozzle 3
    const auto reply = station.Handle(request.data(), request.size(), TimePoint{});
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->bytes.size(), 35u);
    EXPECT_EQ(reply->bytes[1], 0xA5);
    EXPECT_EQ(reply->bytes[2], 0x02);
    EXPECT_EQ(reply->bytes[5], 0x00);
    EXPECT_EQ(reply->bytes[6], 0x07);
}

struct IgnoredCase {
    const char* name;
    Bytes request;
};

Bytes WithByte(Bytes b, std::size_t at, std::uint8_t v) {
    b.at(at) = v;
    return b;
}

Bytes Appended(Bytes b, std::uint8_t v) {
    b.push_back(v);
    return b;
}

class HandlerIgnores : public ::testing::TestWithParam<IgnoredCase> {};

TEST_P(HandlerIgnores, SendsNothing) {
    Station station;
    const Bytes& r = GetParam().request;
    EXPECT_FALSE(station.Handle(r.data(), r.size(), TimePoint{}).has_value()) << Hex(r);
    EXPECT_EQ(station.Stats().ignored, 1u);
    EXPECT_EQ(station.Stats().replies, 0u);
}

INSTANTIATE_TEST_SUITE_P(Frames, HandlerIgnores,
                         ::testing::Values(IgnoredCase{"BadChecksum", WithByte(Frame(0, {0x01, 0x9F, 0x00}), 6, 0x00)},
                                           IgnoredCase{"BadStart", WithByte(Frame(0, {0x01, 0x9F, 0x00}), 0, 0x03)},
                                           IgnoredCase{"LengthDisagrees", Appended(Frame(0, {0x01, 0x9F, 0x00}), 0x00)},
                                           IgnoredCase{"Truncated", Bytes{0x02, 0x00, 0x01}},
                                           IgnoredCase{"OtherAddress", Frame(0, {0x03, 0x9F, 0x00})},
                                           IgnoredCase{"UnknownCommand", Frame(0, {0x01, 0x55, 0x00})},
                                           IgnoredCase{"NoCommand", Frame(0, {0x01})},
                                           IgnoredCase{"StatusWithoutNozzle", Frame(0, {0x01, 0x9F})},
                                           IgnoredCase{"PriceTooShort", Frame(0, {0x01, 0x9A, 0x00, 0x2C, 0x01})},
                                           IgnoredCase{"ReadParameterTooShort", Frame(0, {0x01, 0x1F, 0x02, 0x03})}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Handler, WriteThenReadGivesTheValueBackAndKeepsOtherRows) {
    Station station;
    const Bytes write = Frame(1, {0x02, 0x1E, 0x02, 0x06, 0x00, 0x15, 0x9C, 0xFF});  // row 6: -100
    auto reply = station.Handle(write.data(), write.size(), TimePoint{});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes[5], 0);
    EXPECT_EQ(station.Parameter(2, 2, 6, 21), 0xFF9Cu);
    EXPECT_EQ(station.Parameter(2, 2, 5, 21), 0u);
    EXPECT_EQ(station.Parameter(1, 2, 6, 21), 0u);  // the other address keeps its own table
    const Bytes read = Frame(2, {0x02, 0x1F, 0x02, 0x06, 0x00, 0x15});
    reply = station.Handle(read.data(), read.size(), TimePoint{});
    ASSERT_TRUE(reply);
    EXPECT_EQ(Hex(Bytes(reply->bytes.begin() + 3, reply->bytes.end() - 1)), "04 1F 00 9C FF");
}

struct WriteCase {
    const char* name;
    Bytes payload;
    std::uint8_t result;
};

class HandlerWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(HandlerWrite, ChecksLimitsAndWidth) {
    Station station;
    const Bytes request = Frame(0, GetParam().payload);
    const auto reply = station.Handle(request.data(), request.size(), TimePoint{});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes[5], GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HandlerWrite,
    ::testing::Values(WriteCase{"SignedLowLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x0B, 0xD8}, 0},        // -40
                      WriteCase{"SignedBelowLowLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x0B, 0xD7}, 4},   // -41
                      WriteCase{"SignedHighLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x0B, 0x64}, 0},       // 100
                      WriteCase{"SignedAboveHighLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x0B, 0x65}, 4},  // 101
                      WriteCase{"UnsignedBelowLowLimit", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x08, 0x00}, 4},
                      WriteCase{"TooWideForField", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x01, 0x01, 0x01}, 4},
                      WriteCase{"NoValueBytes", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x01}, 4},
                      WriteCase{"RowBeyondTable", {0x01, 0x1E, 0x01, 0x04, 0x00, 0x01, 0x01}, 3},
                      WriteCase{"FieldBeyondTable", {0x01, 0x1E, 0x01, 0x01, 0x00, 0x0D, 0x01}, 3},
                      // e = -1 would make the correction e / (e + 1) divide by zero: refused.
                      WriteCase{"CoefficientMinusOne", {0x01, 0x1E, 0x02, 0x01, 0x00, 0x15, 0xFF, 0xFF}, 4},
                      WriteCase{"CoefficientMinusTwo", {0x01, 0x1E, 0x02, 0x01, 0x00, 0x15, 0xFE, 0xFF}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Handler, TableOneHasTwelveFieldsAndThreeRowsTableTwoAtLeastTwentyOne) {
    Station station;
    for (const auto& [table, rows, minFields] : {std::tuple{1, 3, 12}, std::tuple{2, 8, 21}, std::tuple{3, 1, 1}}) {
        const Bytes request = Frame(0, {0x01, 0x2D, static_cast<std::uint8_t>(table)});
        const auto reply = station.Handle(request.data(), request.size(), TimePoint{});
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->bytes.size(), 50u);
        EXPECT_EQ(testing::Le(reply->bytes, 46, 2), static_cast<std::uint32_t>(rows)) << table;
        EXPECT_GE(reply->bytes[48], minFields) << table;
        // Every field the table announces is described, with a width of 1 to 4 and LEN = 44 + 2w.
        for (int field = 1; field <= reply->bytes[48]; ++field) {
            const Bytes fq = Frame(0, {0x01, 0x2E, static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(field)});
            const auto fr = station.Handle(fq.data(), fq.size(), TimePoint{});
            ASSERT_TRUE(fr);
            const unsigned w = fr->bytes[47];
            EXPECT_TRUE(w >= 1 && w <= 4) << table << "/" << field;
            EXPECT_EQ(fr->bytes[3], 44 + 2 * w) << table << "/" << field;
            EXPECT_NE(fr->bytes[6], 0) << "unnamed field " << table << "/" << field;
        }
    }
}

}  // namespace
}  // namespace zarvik::sim
