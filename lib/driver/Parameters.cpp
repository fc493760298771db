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

// One exchange of a parameter command whose payload is in buffer; a failed
// one raises. A good reply too short for its layout (`decode` finds nothing)
// sets the line result to 3; the decoded reply comes back only
// while the line result is 1.
template <std::size_t N, typename Decode>
auto ParameterExchange(TVM30& driver, std::int32_t line, std::uint8_t (&buffer)[N], std::size_t n, Decode decode) {
    const auto l = static_cast<std::uint8_t>(line);
    if (driver.Exchange(l, buffer, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(N)) != 0)
        RaiseSerialIO(texts::kStatusRequestFailed);
    auto reply = decode(buffer, protocol::JudgedLength(buffer, N));
    // A refusal the port service recognised (line result 4) stays one.
    if (!reply && driver.lineResult(l) == kLineStateGood) driver.lineResult(l) = kLineStateBad;
    if (driver.lineResult(l) != kLineStateGood) reply.reset();
    return reply;
}

// The write reply decodes only when the dispenser took the value.
std::optional<std::uint8_t> Taken(const std::uint8_t* frame, std::size_t length) {
    const auto result = protocol::DecodeResult(frame, length);
    return result && *result == protocol::kResultTaken ? result : std::nullopt;
}

void CopyName(const protocol::NameBytes& from, TName& to) {
    to.Length = from.length;
    for (std::uint8_t i = 0; i < from.length; ++i) to.Bytes[i] = from.bytes[i];
}

TTableInfo TableInfoOf(const protocol::TableReply& reply) {
    TTableInfo info;
    CopyName(reply.name, info.Name);
    info.RowCount = reply.rows;
    info.FieldCount = reply.fields;
    return info;
}

// The limits are the reply's zero-extended values, kept as 32-bit numbers.
TFieldInfo FieldInfoOf(const protocol::FieldReply& reply) {
    TFieldInfo info;
    CopyName(reply.name, info.Name);
    info.DataType = reply.type;
    info.DataSize = reply.width;
    info.LowLimit = static_cast<std::int32_t>(reply.low);
    info.HighLimit = static_cast<std::int32_t>(reply.high);
    return info;
}

}  // namespace

std::int32_t TVM30::ReadParameter(std::int32_t line, std::int32_t address, std::int32_t code) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kParameterReplyLength];
    PutRequest(buffer, static_cast<std::uint8_t>(address), protocol::kCmdReadParameter,
               protocol::UnpackParameterCode(code));
    // Too short to hold a value, or announcing more than a 32-bit value: bad.
    const auto value = ParameterExchange(*this, line, buffer, kParameterPayload, protocol::DecodeParameterReply);
    return value ? static_cast<std::int32_t>(*value) : 0;
}

void TVM30::WriteParameter(std::int32_t line, std::int32_t address, std::int32_t code, std::int32_t value) {
    CheckLine(line);
    const protocol::ParameterAddress where = protocol::UnpackParameterCode(code);

    TFieldInfo field{};
    ReadFieldInfo(line, address, where.table, where.field, field);
    // Without a good description the width is unknown: nothing is written and
    // the line result stays as the description left it.
    if (lineResult(line) != kLineStateGood) return;

    // A field without value bytes cannot take a value: a write with none
    // would be reported as good although nothing was stored.
    const std::uint8_t width = field.DataSize;  // 0..4, ReadFieldInfo refuses wider
    if (width == 0) {
        lineResult(line) = kLineStateBad;
        return;
    }
    std::uint8_t buffer[protocol::kParameterReplyLength];
    PutRequest(buffer, static_cast<std::uint8_t>(address), protocol::kCmdWriteParameter, where);
    protocol::WriteLE(buffer + kParameterPayload, static_cast<std::uint32_t>(value), width);
    (void)ParameterExchange(*this, line, buffer, kParameterPayload + width, Taken);
    // A write not taken is line result 3, also when the port service saw the refusal.
    if (lineResult(line) == kLineStateRefused) lineResult(line) = kLineStateBad;
}

void TVM30::ReadTableInfo(std::int32_t line, std::int32_t address, std::int32_t table, TTableInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kDescriptionReplyLength] = {
        static_cast<std::uint8_t>(address), protocol::kCmdTableInfo, static_cast<std::uint8_t>(table)};
    // The threshold of 44 stays; past it the reply must still carry the
    // field count.
    // The record is left as it was unless the reply is good.
    if (const auto reply = ParameterExchange(*this, line, buffer, 3, protocol::DecodeTableReply))
        info = TableInfoOf(*reply);
}

void TVM30::ReadFieldInfo(std::int32_t line, std::int32_t address, std::int32_t table, std::int32_t field,
                          TFieldInfo& info) {
    CheckLine(line);
    std::uint8_t buffer[protocol::kDescriptionReplyLength] = {static_cast<std::uint8_t>(address),
                                                              protocol::kCmdFieldInfo, static_cast<std::uint8_t>(table),
                                                              static_cast<std::uint8_t>(field)};
    // The threshold of 44 stays; past it the reply must still carry both
    // limits, and a limit wider than 32 bits is not a value we can hold.
    if (const auto reply = ParameterExchange(*this, line, buffer, 4, protocol::DecodeFieldReply))
        info = FieldInfoOf(*reply);
}

}  // namespace zarvik
