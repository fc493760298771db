#include "protocol/Replies.h"

namespace zarvik::protocol {

namespace {

NameBytes NameAt(const std::uint8_t* frame) {
    NameBytes name;
    while (name.length < kNameCapacity && frame[kDescriptionName + name.length] != 0) {
        name.bytes[name.length] = static_cast<char>(frame[kDescriptionName + name.length]);
        ++name.length;
    }
    return name;
}

// A description frame: whole, LEN 44 or more (which covers the name).
bool IsDescription(const std::uint8_t* frame, std::size_t length) {
    return detail::Whole(frame, length) && frame[kOffsetLen] >= kDescriptionMinLen;
}

}  // namespace

std::optional<TableReply> DecodeTableReply(const std::uint8_t* frame, std::size_t length) {
    if (!IsDescription(frame, length) || !detail::Carries(length, kTableFields)) return std::nullopt;
    TableReply table;
    table.name = NameAt(frame);
    table.rows = static_cast<std::uint16_t>(ReadLE(frame + kTableRows, 2));
    table.fields = frame[kTableFields];
    return table;
}

std::optional<FieldReply> DecodeFieldReply(const std::uint8_t* frame, std::size_t length) {
    if (!IsDescription(frame, length)) return std::nullopt;
    const std::size_t width = frame[kFieldWidth];  // LEN 44 covers byte 47
    if (width > kMaxFieldWidth || !detail::Carries(length, kFieldLimits + 2 * width - 1)) return std::nullopt;
    FieldReply field;
    field.name = NameAt(frame);
    field.type = frame[kFieldType];
    field.width = static_cast<std::uint8_t>(width);
    field.low = ReadLE(frame + kFieldLimits, width);
    field.high = ReadLE(frame + kFieldLimits + width, width);
    return field;
}

}  // namespace zarvik::protocol
