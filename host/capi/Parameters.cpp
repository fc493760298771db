// Parameter values through the driver (operations 17 and 18) and the table
// and field descriptions (0x2D, 0x2E), which are not driver operations: this
// library sends them itself through the port service, built and judged by
// the codec with the driver's own reply check, as the reference host does.
#include <algorithm>

#include "Calls.h"
#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "protocol/HostText.h"
#include "protocol/Replies.h"
#include "protocol/ReplyChecker.h"
#include "zarvik/exceptions.h"

using namespace zarvik::capi;
namespace proto = zarvik::protocol;

namespace {

constexpr std::size_t kReplyLength = proto::kDescriptionReplyLength;

// One description exchange; the reply lands in `reply`. A transport failure
// raises ESerialIO as a driver command would; otherwise the status of the
// reply (ZARVIK_OK when the codec decoded it).
template <std::size_t N, typename Decode>
std::int32_t AskDescription(zarvik_station& station, int line, const std::uint8_t (&payload)[N], Decode decode) {
    std::uint8_t frame[proto::kMaxFrame];
    const std::size_t frameLength = proto::BuildFrame(station.At(line).sequence++, payload, N, frame);
    auto& port = *station.port;
    const auto l = static_cast<std::uint8_t>(line);
    port.SetReplyChecker(l, proto::ReplyCheckerFor(port));
    std::uint8_t reply[kReplyLength] = {};
    const auto handle =
        port.StartTransfer(l, l, frame, static_cast<std::uint8_t>(frameLength), reply, kReplyLength, 2, 0);
    const std::int32_t code = port.WaitTransfer(handle);
    if (code != 0)
        throw zarvik::ESerialIO(proto::ToHostText(std::string("Невозможно выполнить запрос описания: ") +
                                                  zarvik::port::DescribeLineError(code)));
    const std::uint8_t state = port.GetLineState(l);
    // A refusal matched to this very request: the dispenser has no such one.
    if (state == zarvik::kLineStateRefused) return Fail(ZARVIK_E_REFUSED, "the dispenser has no such description");
    if (state != zarvik::kLineStateGood) {
        const std::int32_t error = port.GetLineError(l);
        return Fail(ZARVIK_E_BAD_REPLY,
                    "bad reply, line error " + std::to_string(error) + ": " + zarvik::port::DescribeLineError(error));
    }
    const std::size_t length = proto::JudgedLength(reply, kReplyLength);
    if (length == 0 || reply[proto::kOffsetAddress] != payload[0] || reply[proto::kOffsetCommand] != payload[1])
        return Fail(ZARVIK_E_BAD_REPLY, "a reply to another request");
    if (decode(reply, length)) return ZARVIK_OK;
    if (reply[proto::kOffsetLen] < proto::kDescriptionMinLen)
        return Fail(ZARVIK_E_REFUSED, "the dispenser has no such description");
    return Fail(ZARVIK_E_BAD_REPLY, "a reply without a usable description");
}

template <std::size_t Capacity>
void CopyName(const proto::NameBytes& name, char (&out)[Capacity]) {
    // 40 characters of code page 1251 take at most 120 bytes of UTF-8.
    static_assert(Capacity > 3 * proto::kNameCapacity);
    const std::string utf8 = zarvik::cp1251::ToUtf8(name.view());
    std::copy_n(utf8.data(), std::min(utf8.size(), Capacity - 1), out);
    out[std::min(utf8.size(), Capacity - 1)] = '\0';
}

}  // namespace

extern "C" {

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_parameter(zarvik_station* station, int32_t line, int32_t address,
                                                       int32_t code, int32_t* value) {
    return OnLine(station, line, [&] {
        RequireRange("address", address, 0, 255);
        RequirePointer(value, "value");
        const std::int32_t read = station->driver->ReadParameter(line, address, code);
        const std::int32_t outcome = LineOutcome(*station, line, "parameter read");
        if (outcome == ZARVIK_OK) *value = read;
        return outcome;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_write_parameter(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t code, int32_t value) {
    return OnLine(station, line, [&] {
        RequireRange("address", address, 0, 255);
        station->driver->WriteParameter(line, address, code, value);
        // Line result 3 after a reply that answered (judged good, or matched
        // and refused by the port service) is the dispenser's refusal.
        const std::uint8_t state = station->port->GetLineState(static_cast<std::uint8_t>(line));
        if (station->driver->GetLineResult(line) == zarvik::kLineStateBad &&
            (state == zarvik::kLineStateGood || state == zarvik::kLineStateRefused))
            return Fail(ZARVIK_E_REFUSED, "parameter write: the dispenser refused the value (line result 3)");
        return LineOutcome(*station, line, "parameter write");
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_table_info(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t table, zarvik_table_info* info) {
    return OnLine(station, line, [&] {
        RequireRange("address", address, 0, 255);
        RequireRange("table", table, 0, 255);
        RequirePointer(info, "info");
        const std::uint8_t payload[] = {static_cast<std::uint8_t>(address), proto::kCmdTableInfo,
                                        static_cast<std::uint8_t>(table)};
        return AskDescription(*station, line, payload, [&](const std::uint8_t* reply, std::size_t length) {
            const auto decoded = proto::DecodeTableReply(reply, length);
            if (!decoded) return false;
            *info = zarvik_table_info{table, decoded->rows, decoded->fields, {}};
            CopyName(decoded->name, info->name);
            return true;
        });
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_field_info(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t table, int32_t field, zarvik_field_info* info) {
    return OnLine(station, line, [&] {
        RequireRange("address", address, 0, 255);
        RequireRange("table", table, 0, 255);
        RequireRange("field", field, 0, 255);
        RequirePointer(info, "info");
        const std::uint8_t payload[] = {static_cast<std::uint8_t>(address), proto::kCmdFieldInfo,
                                        static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(field)};
        return AskDescription(*station, line, payload, [&](const std::uint8_t* reply, std::size_t length) {
            const auto d = proto::DecodeFieldReply(reply, length);
            if (!d) return false;
            *info = zarvik_field_info{field, d->type, d->width, d->low, d->high, {}};
            CopyName(d->name, info->name);
            return true;
        });
    });
}

}  // extern "C"
