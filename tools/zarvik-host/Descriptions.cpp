#include "Descriptions.h"

#include <algorithm>

#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "protocol/HostText.h"
#include "protocol/Replies.h"
#include "protocol/ReplyChecker.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

namespace proto = zarvik::protocol;

// One exchange with the driver's transfer constants; true when the reply
// check found the reply good. Throws ESerialIO on a transport failure.
bool Exchange(Session& session, const std::uint8_t* payload, std::size_t n, std::uint8_t* reply) {
    std::uint8_t frame[proto::kMaxFrame];
    const std::size_t frameLength = proto::BuildFrame(session.NextSequence(), payload, n, frame);
    auto& port = session.Port();
    const auto line = static_cast<std::uint8_t>(session.Line());
    port.SetReplyChecker(line, proto::ReplyCheckerFor(port));
    std::fill(reply, reply + proto::kDescriptionReplyLength, std::uint8_t{0});
    const TTransferHandle handle = port.StartTransfer(line, line, frame, static_cast<std::uint8_t>(frameLength), reply,
                                                      proto::kDescriptionReplyLength, 2, 0);
    const std::int32_t code = port.WaitTransfer(handle);
    if (code != 0)
        throw ESerialIO(
            proto::ToHostText(std::string("Невозможно выполнить запрос описания: ") + port::DescribeLineError(code)));
    return port.GetLineState(line) == kLineStateGood;
}

}  // namespace

std::optional<TableDescription> ReadTableDescription(Session& session, std::uint8_t address, int table) {
    const std::uint8_t payload[] = {address, proto::kCmdTableInfo, static_cast<std::uint8_t>(table)};
    std::uint8_t reply[proto::kDescriptionReplyLength];
    if (!Exchange(session, payload, sizeof payload, reply)) return std::nullopt;
    const auto decoded = proto::DecodeTableReply(reply, proto::JudgedLength(reply, sizeof reply));
    if (!decoded) return std::nullopt;
    TableDescription d;
    d.number = table;
    d.name = cp1251::ToUtf8(decoded->name.view());
    d.rows = decoded->rows;
    d.fields = decoded->fields;
    return d;
}

std::optional<FieldDescription> ReadFieldDescription(Session& session, std::uint8_t address, int table, int field) {
    const std::uint8_t payload[] = {address, proto::kCmdFieldInfo, static_cast<std::uint8_t>(table),
                                    static_cast<std::uint8_t>(field)};
    std::uint8_t reply[proto::kDescriptionReplyLength];
    if (!Exchange(session, payload, sizeof payload, reply)) return std::nullopt;
    const auto decoded = proto::DecodeFieldReply(reply, proto::JudgedLength(reply, sizeof reply));
    // A field without value bytes is not a description this host can use.
    if (!decoded || decoded->width < 1) return std::nullopt;
    FieldDescription d;
    d.number = field;
    d.name = cp1251::ToUtf8(decoded->name.view());
    d.type = decoded->type;
    d.size = decoded->width;
    d.low = decoded->low;
    d.high = decoded->high;
    return d;
}

}  // namespace zarvik::host
