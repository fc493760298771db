// Little-endian fields of 1 to 4 bytes, and the bounded read of a received
// buffer.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "protocol/Fields.h"
#include "support/FakePortManager.h"

namespace zarvik::protocol {
namespace {

TEST(ReadLE, LeastSignificantByteFirst) {
    const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0xEE};
    const std::uint32_t expected[] = {0, 0x78, 0x5678, 0x345678, 0x12345678};
    for (std::size_t width = 0; width <= 4; ++width) EXPECT_EQ(ReadLE(bytes, width), expected[width]) << width;
    EXPECT_EQ(ReadLE32(bytes), 0x12345678u);
    const std::uint8_t high[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ReadLE(high, 4), 0xFFFFFFFFu);  // unsigned: no sign extension
    EXPECT_EQ(ReadLE32(high), 0xFFFFFFFFu);
}

TEST(WriteLE, WritesOnlyTheLowWidthBytes) {
    struct Case {
        std::uint32_t value;
        std::size_t width;
        std::vector<std::uint8_t> bytes;  // the buffer afterwards, sentinels 0xEE
    };
    const Case cases[] = {
        {0x12345678, 4, {0x78, 0x56, 0x34, 0x12, 0xEE}}, {0x12345678, 3, {0x78, 0x56, 0x34, 0xEE, 0xEE}},
        {0x1234, 1, {0x34, 0xEE, 0xEE, 0xEE, 0xEE}},     {0x1234, 2, {0x34, 0x12, 0xEE, 0xEE, 0xEE}},
        {0xFFFF, 0, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> buffer(5, 0xEE);
        WriteLE(buffer.data(), c.value, c.width);
        EXPECT_EQ(testing::Hex(buffer), testing::Hex(c.bytes)) << std::hex << c.value << " width " << c.width;
    }
}

TEST(FieldAt, ReadsOnlyFieldsWhollyInsideTheReceivedLength) {
    struct Case {
        const char* name;
        std::size_t length, offset, width;
        std::optional<std::uint32_t> value;
    };
    // Four received bytes, then sentinels that must never be read.
    const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0xEE, 0xEE, 0xEE, 0xEE};
    const Case cases[] = {
        {"whole buffer", 4, 0, 4, 0x04030201u},
        {"last byte", 4, 3, 1, 0x04u},
        {"one byte past the end", 4, 1, 4, std::nullopt},
        {"starts at the end", 4, 4, 1, std::nullopt},
        {"starts past the end", 4, 9, 1, std::nullopt},
        {"nothing received", 0, 0, 1, std::nullopt},
        {"width 0", 4, 0, 0, std::nullopt},
        {"width 5", 8, 0, 5, std::nullopt},
        {"offset near the top of size_t", 4, static_cast<std::size_t>(-1), 2, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(FieldAt(bytes, c.length, c.offset, c.width), c.value) << c.name;
}

}  // namespace
}  // namespace zarvik::protocol
