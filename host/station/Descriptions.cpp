#include "station/Descriptions.h"

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

// One exchange with the driver's transfer constants. Throws ESerialIO on a
// transport failure.
struct Exchanged {
    bool good = false;       // the reply check found the reply good
    bool refused = false;    // a reply to this request that refused it (no such table or field)
    std::size_t length = 0;  // of the reply frame, 0 when it does not hold its LEN
    std::string cause;       // why not good
};

Exchanged Exchange(const DescriptionLine& session, const std::uint8_t* payload, std::size_t n, std::uint8_t* reply) {
    std::uint8_t frame[proto::kMaxFrame];
    const std::size_t frameLength = proto::BuildFrame(session.nextSequence(), payload, n, frame);
    auto& port = session.port;
    const auto line = static_cast<std::uint8_t>(session.line);
    port.SetReplyChecker(line, proto::ReplyCheckerFor(port));
    std::fill(reply, reply + proto::kDescriptionReplyLength, std::uint8_t{0});
    const TTransferHandle handle = port.StartTransfer(line, line, frame, static_cast<std::uint8_t>(frameLength), reply,
                                                      proto::kDescriptionReplyLength, 2, 0);
    const std::int32_t code = port.WaitTransfer(handle);
    if (code != 0)
        throw ESerialIO(
            proto::ToHostText(std::string("Невозможно выполнить запрос описания: ") + port::DescribeLineError(code)));
    Exchanged e;
    e.good = port.GetLineState(line) == kLineStateGood;
    e.refused = port.GetLineState(line) == kLineStateRefused;
    e.length = proto::JudgedLength(reply, proto::kDescriptionReplyLength);
    if (!e.good) {
        const std::int32_t error = port.GetLineError(line);
        e.cause = "bad reply, line error " + std::to_string(error) + ": " + port::DescribeLineError(error);
    }
    return e;
}

// How a checked reply to a description request reads: a description, none
// (a good reply to this very request without one) or something else.
template <typename Description, typename Decode>
DescriptionReply<Description> Judge(const Exchanged& e, const std::uint8_t* payload, const std::uint8_t* reply,
                                    Decode decode) {
    DescriptionReply<Description> out;
    // The port service matched the refusal to this request: there is none.
    if (e.refused) {
        out.outcome = DescriptionOutcome::kAbsent;
        return out;
    }
    if (!e.good) {
        out.cause = e.cause;
        return out;
    }
    if (e.length == 0 || reply[proto::kOffsetAddress] != payload[0] || reply[proto::kOffsetCommand] != payload[1]) {
        out.cause = "a reply to another request";
        return out;
    }
    if (decode(reply, e.length)) {
        out.outcome = DescriptionOutcome::kGood;
        return out;
    }
    if (reply[proto::kOffsetLen] < proto::kDescriptionMinLen) {
        out.outcome = DescriptionOutcome::kAbsent;
        return out;
    }
    out.cause = "a reply without a usable description";
    return out;
}

// Asks for one description and, when the reply holds one, fills it in.
template <typename Description, typename Decoded, std::size_t N, typename Fill>
DescriptionReply<Description> Ask(const DescriptionLine& session, const std::uint8_t (&payload)[N],
                                  std::optional<Decoded> (*decode)(const std::uint8_t*, std::size_t), Fill fill) {
    std::uint8_t reply[proto::kDescriptionReplyLength];
    std::optional<Decoded> decoded;
    auto out = Judge<Description>(Exchange(session, payload, N, reply), payload, reply,
                                  [&](const std::uint8_t* r, std::size_t n) {
                                      decoded = decode(r, n);
                                      return decoded.has_value();
                                  });
    if (decoded) out.description = fill(*decoded);
    return out;
}

}  // namespace

DescriptionReply<TableDescription> AskTableDescription(const DescriptionLine& session, std::uint8_t address,
                                                       int table) {
    const std::uint8_t payload[] = {address, proto::kCmdTableInfo, static_cast<std::uint8_t>(table)};
    return Ask<TableDescription>(session, payload, proto::DecodeTableReply, [table](const proto::TableReply& d) {
        return TableDescription{
            .number = table, .name = cp1251::ToUtf8(d.name.view()), .rows = d.rows, .fields = d.fields};
    });
}

DescriptionReply<FieldDescription> AskFieldDescription(const DescriptionLine& session, std::uint8_t address, int table,
                                                       int field) {
    const std::uint8_t payload[] = {address, proto::kCmdFieldInfo, static_cast<std::uint8_t>(table),
                                    static_cast<std::uint8_t>(field)};
    return Ask<FieldDescription>(session, payload, proto::DecodeFieldReply, [field](const proto::FieldReply& d) {
        return FieldDescription{.number = field,
                                .name = cp1251::ToUtf8(d.name.view()),
                                .type = d.type,
                                .size = d.width,
                                .low = d.low,
                                .high = d.high};
    });
}

std::optional<TableDescription> ReadTableDescription(const DescriptionLine& session, std::uint8_t address, int table) {
    auto reply = AskTableDescription(session, address, table);
    if (reply.outcome != DescriptionOutcome::kGood) return std::nullopt;
    return std::move(reply.description);
}

std::optional<FieldDescription> ReadFieldDescription(const DescriptionLine& session, std::uint8_t address, int table,
                                                     int field) {
    auto reply = AskFieldDescription(session, address, table, field);
    // A field without value bytes is not a description this host can use.
    if (reply.outcome != DescriptionOutcome::kGood || reply.description.size < 1) return std::nullopt;
    return std::move(reply.description);
}

DescriptionLine DescriptionLine::Of(Session& session) {
    return {session.Port(), session.Line(), [&session] { return session.NextSequence(); }};
}

DescriptionReply<TableDescription> AskTableDescription(Session& session, std::uint8_t address, int table) {
    return AskTableDescription(DescriptionLine::Of(session), address, table);
}

DescriptionReply<FieldDescription> AskFieldDescription(Session& session, std::uint8_t address, int table, int field) {
    return AskFieldDescription(DescriptionLine::Of(session), address, table, field);
}

std::optional<TableDescription> ReadTableDescription(Session& session, std::uint8_t address, int table) {
    return ReadTableDescription(DescriptionLine::Of(session), address, table);
}

std::optional<FieldDescription> ReadFieldDescription(Session& session, std::uint8_t address, int table, int field) {
    return ReadFieldDescription(DescriptionLine::Of(session), address, table, field);
}

}  // namespace zarvik::host
