// Parameter commands. The address byte is the caller's, unmapped.
//
//   code  payload after address, code                 payload  reply
//   0x1F  table, row (u16 LE), field                  6        42
//   0x1E  table, row (u16 LE), field, value (w bytes)  6 + w    42
//   0x2D  table                                       3        60
//   0x2E  table, field                                4        60
//
// Reply to 0x1F: value in bytes 6..LEN+3 (LEN-2 bytes, LE; at most 4).
// Reply to 0x1E: byte 5 is 0 when the dispenser took the value.
// Reply to 0x2D: 6..45 name, 46..47 row count, 48 field count.
// Reply to 0x2E: 6..45 name, 46 type, 47 width w (1..4), 48.. low limit
//                (w bytes), then high limit (w bytes).
// Names end at the first 0 byte or after 40 characters.
#include <algorithm>

#include "ComPort.h"
#include "WireValues.h"
#include "driver/VM30.h"
#include "protocol/Frame.h"

namespace zarvik {

namespace {

constexpr std::uint8_t kParameterReplyLength = 42;
constexpr std::uint8_t kDescriptionReplyLength = 60;

constexpr std::size_t kReadValue = 6;
constexpr std::uint8_t kReadMinLen = 3;
constexpr std::uint8_t kReadMaxLen = 6;  // four value bytes
constexpr std::size_t kWriteTaken = 5;

constexpr std::uint8_t kDescriptionMinLen = 44;
constexpr std::size_t kName = 6;
constexpr std::size_t kTableRows = 46;
constexpr std::size_t kTableFields = 48;
constexpr std::size_t kFieldType = 46;
constexpr std::size_t kFieldWidth = 47;
constexpr std::size_t kFieldLimits = 48;
constexpr std::uint8_t kMaxWidth = 4;

// A parameter code 1000000 + table*10000 + row*100 + field, taken apart with
// signed division; the millions digit is dropped.
struct ParameterAddress {
    std::uint8_t table;
    std::uint8_t rowLow;
    std::uint8_t rowHigh;
    std::uint8_t field;
};

ParameterAddress SplitCode(std::int32_t code) {
    const std::int32_t table = (code % 1000000) / 10000;
    const auto row = static_cast<std::uint16_t>((code % 10000) / 100);
    const std::int32_t field = code % 100;
    return {static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(row & 0xFF),
            static_cast<std::uint8_t>(row >> 8), static_cast<std::uint8_t>(field)};
}

void PutAddress(std::uint8_t* payload, std::uint8_t address, std::uint8_t command, const ParameterAddress& p) {
    payload[0] = address;
    payload[1] = command;
    payload[2] = p.table;
    payload[3] = p.rowLow;
    payload[4] = p.rowHigh;
    payload[5] = p.field;
}

void ReadName(const std::uint8_t* reply, TName& name) {
    name = TName{};
    while (name.Length < TName::kCapacity && reply[kName + name.Length] != 0) {
        name.Bytes[name.Length] = static_cast<char>(reply[kName + name.Length]);
        ++name.Length;
    }
}

std::int32_t ReadLimit(const std::uint8_t* p, std::uint8_t width) {
    std::uint32_t value = 0;
    for (std::uint8_t i = 0; i < width; ++i) value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t TVM30::ReadParameter(std::int32_t line, std::int32_t address, std::int32_t code) {
    CheckLine(line);
    std::uint8_t buffer[kParameterReplyLength];
    PutAddress(buffer, static_cast<std::uint8_t>(address), protocol::kCmdReadParameter, SplitCode(code));
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 6, kParameterReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    const std::uint8_t len = buffer[protocol::kOffsetLen];
    // Too short to hold a value, or announcing more than a 32-bit value.
    if (len < kReadMinLen || len > kReadMaxLen) lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return 0;
    return ReadLimit(buffer + kReadValue, static_cast<std::uint8_t>(len - 2));
}

void TVM30::WriteParameter(std::int32_t line, std::int32_t address, std::int32_t code, std::int32_t value) {
    CheckLine(line);
    const ParameterAddress where = SplitCode(code);

    TFieldInfo field{};
    ReadFieldInfo(line, address, where.table, where.field, field);
    // Without a good description the width is unknown: nothing is written and
    // the line result stays as the description left it.
    if (lineResult(line) != kLineStateGood) return;

    const std::uint8_t width = field.DataSize;  // 0..4, ReadFieldInfo refuses wider
    std::uint8_t buffer[kParameterReplyLength];
    PutAddress(buffer, static_cast<std::uint8_t>(address), protocol::kCmdWriteParameter, where);
    wire::WriteLE(buffer + 6, static_cast<std::uint32_t>(value), width);
    if (Exchange(static_cast<std::uint8_t>(line), buffer, static_cast<std::uint8_t>(6 + width),
                 kParameterReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    if (!protocol::ReplyCovers(buffer, kParameterReplyLength, kWriteTaken) || buffer[kWriteTaken] != 0)
        lineResult(line) = kLineStateBad;
}

void TVM30::ReadTableInfo(std::int32_t line, std::int32_t address, std::int32_t table, TTableInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[kDescriptionReplyLength] = {static_cast<std::uint8_t>(address), protocol::kCmdTableInfo,
                                                    static_cast<std::uint8_t>(table)};
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 3, kDescriptionReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    if (buffer[protocol::kOffsetLen] < kDescriptionMinLen ||
        !protocol::ReplyCovers(buffer, kDescriptionReplyLength, kTableFields))
        lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return;

    info = TTableInfo{};
    ReadName(buffer, info.Name);
    info.RowCount = static_cast<std::uint16_t>(buffer[kTableRows] | buffer[kTableRows + 1] << 8);
    info.FieldCount = buffer[kTableFields];
}

void TVM30::ReadFieldInfo(std::int32_t line, std::int32_t address, std::int32_t table, std::int32_t field,
                          TFieldInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[kDescriptionReplyLength] = {static_cast<std::uint8_t>(address), protocol::kCmdFieldInfo,
                                                    static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(field)};
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 4, kDescriptionReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    const std::uint8_t width = buffer[kFieldWidth];
    // The threshold of 44 stays; past it the reply must still carry both
    // limits, and a limit wider than 32 bits is not a value we can hold.
    if (buffer[protocol::kOffsetLen] < kDescriptionMinLen || width > kMaxWidth ||
        !protocol::ReplyCovers(buffer, kDescriptionReplyLength, kFieldLimits + 2 * std::size_t{width} - 1))
        lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return;

    info = TFieldInfo{};
    ReadName(buffer, info.Name);
    info.DataType = buffer[kFieldType];
    info.DataSize = width;
    info.LowLimit = ReadLimit(buffer + kFieldLimits, width);
    info.HighLimit = ReadLimit(buffer + kFieldLimits + width, width);
}

}  // namespace zarvik
