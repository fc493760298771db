// Parameter commands. The address byte is the caller's, unmapped; the
// parameter code, the request's parameter address and the reply layouts are
// the codec's (protocol/ParameterCode.h, protocol/Replies.h).
//
//   code  payload after address, code                 payload  reply
//   0x1F  table, row (u16 LE), field                  6        42
//   0x1E  table, row (u16 LE), field, value (w bytes)  6 + w    42
//   0x2D  table                                       3        60
//   0x2E  table, field                                4        60
#include "ComPort.h"
#include "driver/VM30.h"
#include "protocol/Fields.h"
#include "protocol/Frame.h"
#include "protocol/ParameterCode.h"
#include "protocol/Replies.h"

namespace zarvik {

namespace {

constexpr std::uint8_t kParameterPayload = 6;  // address, code, parameter address

void PutRequest(std::uint8_t* payload, std::uint8_t address, std::uint8_t command,
                const protocol::ParameterAddress& where) {
    payload[0] = address;
    payload[1] = command;
    protocol::PutParameterAddress(payload + 2, where);
}

void CopyName(const protocol::NameBytes& from, TName& to) {
    to.Length = from.length;
    for (std::uint8_t i = 0; i < from.length; ++i) to.Bytes[i] = from.bytes[i];
}

}  // namespace

std::int32_t TVM30::ReadParameter(std::int32_t line, std::int32_t address, std::int32_t code) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kParameterReplyLength];
    PutRequest(buffer, static_cast<std::uint8_t>(address), protocol::kCmdReadParameter,
               protocol::UnpackParameterCode(code));
    if (Exchange(static_cast<std::uint8_t>(line), buffer, kParameterPayload, protocol::kParameterReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    // Too short to hold a value, or announcing more than a 32-bit value.
    const auto value = protocol::DecodeParameterReply(buffer, protocol::JudgedLength(buffer, sizeof buffer));
    if (!value) lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return 0;
    return static_cast<std::int32_t>(*value);
}

void TVM30::WriteParameter(std::int32_t line, std::int32_t address, std::int32_t code, std::int32_t value) {
    CheckLine(line);
    const protocol::ParameterAddress where = protocol::UnpackParameterCode(code);

    TFieldInfo field{};
    ReadFieldInfo(line, address, where.table, where.field, field);
    // Without a good description the width is unknown: nothing is written and
    // the line result stays as the description left it.
    if (lineResult(line) != kLineStateGood) return;

    const std::uint8_t width = field.DataSize;  // 0..4, ReadFieldInfo refuses wider
    std::uint8_t buffer[protocol::kParameterReplyLength];
    PutRequest(buffer, static_cast<std::uint8_t>(address), protocol::kCmdWriteParameter, where);
    protocol::WriteLE(buffer + kParameterPayload, static_cast<std::uint32_t>(value), width);
    if (Exchange(static_cast<std::uint8_t>(line), buffer, static_cast<std::uint8_t>(kParameterPayload + width),
                 protocol::kParameterReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    const auto taken = protocol::DecodeResult(buffer, protocol::JudgedLength(buffer, sizeof buffer));
    if (!taken || *taken != protocol::kResultTaken) lineResult(line) = kLineStateBad;
}

void TVM30::ReadTableInfo(std::int32_t line, std::int32_t address, std::int32_t table, TTableInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kDescriptionReplyLength] = {
        static_cast<std::uint8_t>(address), protocol::kCmdTableInfo, static_cast<std::uint8_t>(table)};
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 3, protocol::kDescriptionReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    // The threshold of 44 stays; past it the reply must still carry the
    // field count.
    const auto reply = protocol::DecodeTableReply(buffer, protocol::JudgedLength(buffer, sizeof buffer));
    if (!reply) lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return;

    info = TTableInfo{};
    CopyName(reply->name, info.Name);
    info.RowCount = reply->rows;
    info.FieldCount = reply->fields;
}

void TVM30::ReadFieldInfo(std::int32_t line, std::int32_t address, std::int32_t table, std::int32_t field,
                          TFieldInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kDescriptionReplyLength] = {static_cast<std::uint8_t>(address),
                                                              protocol::kCmdFieldInfo, static_cast<std::uint8_t>(table),
                                                              static_cast<std::uint8_t>(field)};
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 4, protocol::kDescriptionReplyLength) != 0)
        throw ESerialIO(texts::kStatusRequestFailed);

    // The threshold of 44 stays; past it the reply must still carry both
    // limits, and a limit wider than 32 bits is not a value we can hold.
    const auto reply = protocol::DecodeFieldReply(buffer, protocol::JudgedLength(buffer, sizeof buffer));
    if (!reply) lineResult(line) = kLineStateBad;
    if (lineResult(line) != kLineStateGood) return;

    info = TFieldInfo{};
    CopyName(reply->name, info.Name);
    info.DataType = reply->type;
    info.DataSize = reply->width;
    info.LowLimit = static_cast<std::int32_t>(reply->low);
    info.HighLimit = static_cast<std::int32_t>(reply->high);
}

}  // namespace zarvik
