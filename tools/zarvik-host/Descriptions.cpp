#include "Descriptions.h"

#include <algorithm>

#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

namespace proto = zarvik::protocol;

// Reply layout of both descriptions.
constexpr std::size_t kNameOffset = 6;
constexpr std::size_t kNameLength = 40;
constexpr std::size_t kMinLen = 44;
constexpr std::size_t kTableRowsOffset = 46;    // 2 bytes
constexpr std::size_t kTableFieldsOffset = 48;  // 1 byte
constexpr std::size_t kFieldTypeOffset = 46;
constexpr std::size_t kFieldSizeOffset = 47;
constexpr std::size_t kFieldLimitsOffset = 48;  // low then high, `size` bytes each
constexpr std::size_t kReplyCapacity = 60;

bool HostChecker(void* data, std::uint8_t line, const std::uint8_t* reply, std::int32_t, std::int32_t& length,
                 std::int32_t) {
    auto* port = static_cast<TPortManager*>(data);
    const proto::ReplyVerdict verdict = proto::JudgeReply(reply, static_cast<std::uint8_t>(length));
    port->SetLineState(line, verdict.state);
    port->SetLineError(line, verdict.error);
    return verdict.state == kLineStateGood;
}

// One exchange; true when a good reply of at least kMinLen data bytes is in
// reply. Throws ESerialIO on a transport failure.
bool Exchange(Session& session, const std::uint8_t* payload, std::size_t n, std::uint8_t* reply) {
    std::uint8_t frame[proto::kMaxFrame];
    const std::size_t frameLength = proto::BuildFrame(session.NextSequence(), payload, n, frame);
    auto& port = session.Port();
    const auto line = static_cast<std::uint8_t>(session.Line());
    port.SetReplyChecker(line, TReplyChecker{&HostChecker, &port});
    std::fill(reply, reply + kReplyCapacity, std::uint8_t{0});
    const TTransferHandle handle =
        port.StartTransfer(line, line, frame, static_cast<std::uint8_t>(frameLength), reply, kReplyCapacity, 2, 0);
    const std::int32_t code = port.WaitTransfer(handle);
    if (code != 0)
        throw ESerialIO(std::string("Невозможно выполнить запрос описания: ") + port::DescribeLineError(code));
    return port.GetLineState(line) == kLineStateGood && reply[proto::kOffsetLen] >= kMinLen;
}

std::string Name(const std::uint8_t* reply) {
    const auto* begin = reinterpret_cast<const char*>(reply + kNameOffset);
    const auto* end = std::find(begin, begin + kNameLength, '\0');
    return cp1251::ToUtf8(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = v << 8 | bytes[i];
    return v;
}

}  // namespace

std::optional<TableDescription> ReadTableDescription(Session& session, std::uint8_t address, int table) {
    const std::uint8_t payload[] = {address, proto::kCmdTableInfo, static_cast<std::uint8_t>(table)};
    std::uint8_t reply[kReplyCapacity];
    if (!Exchange(session, payload, sizeof payload, reply)) return std::nullopt;
    if (!proto::ReplyCovers(reply, kReplyCapacity, kTableFieldsOffset)) return std::nullopt;
    TableDescription d;
    d.number = table;
    d.name = Name(reply);
    d.rows = static_cast<int>(LittleEndian(reply + kTableRowsOffset, 2));
    d.fields = reply[kTableFieldsOffset];
    return d;
}

std::optional<FieldDescription> ReadFieldDescription(Session& session, std::uint8_t address, int table, int field) {
    const std::uint8_t payload[] = {address, proto::kCmdFieldInfo, static_cast<std::uint8_t>(table),
                                    static_cast<std::uint8_t>(field)};
    std::uint8_t reply[kReplyCapacity];
    if (!Exchange(session, payload, sizeof payload, reply)) return std::nullopt;
    const std::size_t size = reply[kFieldSizeOffset];
    // Values are 32-bit: a wider field is not a description this host can use.
    if (size < 1 || size > 4) return std::nullopt;
    if (!proto::ReplyCovers(reply, kReplyCapacity, kFieldLimitsOffset + 2 * size - 1)) return std::nullopt;
    FieldDescription d;
    d.number = field;
    d.name = Name(reply);
    d.type = reply[kFieldTypeOffset];
    d.size = static_cast<int>(size);
    d.low = LittleEndian(reply + kFieldLimitsOffset, size);
    d.high = LittleEndian(reply + kFieldLimitsOffset + size, size);
    return d;
}

}  // namespace zarvik::host
