// Reply layouts, byte offsets in the whole reply frame (byte 4 is the command
// code, the checksum comes last), and their decoders.
//
// Every decoder takes a reply as received: `length` bytes at `frame`. It
// returns nullopt unless the bytes are one whole frame by length
// (length == LEN + 5; start byte and checksum are JudgeReply's to check) and
// that frame carries every byte the layout reads. It never reads at or past
// `length`. A command that holds only its buffer passes JudgedLength().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/Fields.h"
#include "protocol/Frame.h"

namespace zarvik::protocol {

namespace detail {

// True when `length` bytes hold LEN and are LEN + 5.
constexpr bool Whole(const std::uint8_t* frame, std::size_t length) {
    return length >= kFrameOverhead && length == std::size_t{frame[kOffsetLen]} + kFrameOverhead;
}

// True when a whole frame of `length` bytes carries data up to byte `last`
// (the checksum, byte length - 1, is not data).
constexpr bool Carries(std::size_t length, std::size_t last) { return last + 2 <= length; }

constexpr bool Covers(const std::uint8_t* frame, std::size_t length, std::size_t last) {
    return Whole(frame, length) && Carries(length, last);
}

}  // namespace detail

// Status reply to 0x9F.
enum StatusLayout : std::size_t {
    kStatusReplyLength = 35,  // LEN 30
    kStatusVolume = 7,        // 7..10 volume counter, u32, thousandths of a litre
    kStatusMoney = 15,        // 15..18 money counter, u32, hundredths
    kStatusCode = 31,         // dispenser status code
    kStatusFlags = 32,        // flags
};
inline constexpr std::uint8_t kFlagLifted = 0x08;  // flags bit 3: an idle nozzle is lifted

struct StatusReply {
    std::uint32_t volume;  // thousandths of a litre
    std::uint32_t money;   // hundredths
    std::uint8_t code;
    std::uint8_t flags;
    friend bool operator==(const StatusReply&, const StatusReply&) = default;
};
// Needs the data up to the flags byte (LEN 29 or more).
constexpr std::optional<StatusReply> DecodeStatusReply(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Covers(frame, length, kStatusFlags)) return std::nullopt;
    return StatusReply{ReadLE32(frame + kStatusVolume), ReadLE32(frame + kStatusMoney), frame[kStatusCode],
                       frame[kStatusFlags]};
}

// Replies read no further than their result byte 5 (kOffsetResult), 0 when the
// dispenser took the command: start, stop and a parameter write read it; the
// clear, price and dose replies are not read at all.
enum ResultLayout : std::size_t {
    kShortReplyLength = 8,  // 0x97 start, 0x96 stop, 0x98 clear, 0x9A price: LEN 3
    kDoseReplyLength = 17,  // 0x93, 0x94 doses
};
// Needs LEN 2 or more.
constexpr std::optional<std::uint8_t> DecodeResult(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Covers(frame, length, kOffsetResult)) return std::nullopt;
    return frame[kOffsetResult];
}

// Total reply to 0x9B.
enum TotalLayout : std::size_t {
    kTotalReplyLength = 12,  // LEN 7
    kTotalCounter = 7,       // 7..10 nozzle total, u32, thousandths of a litre
};
// Needs the data up to byte 10 (LEN 7 or more).
constexpr std::optional<std::uint32_t> DecodeTotalReply(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Covers(frame, length, kTotalCounter + 3)) return std::nullopt;
    return ReadLE32(frame + kTotalCounter);
}

// Parameter read reply to 0x1F (and write reply to 0x1E). The value fills
// bytes 6..LEN+3: LEN - 2 bytes, little-endian, so LEN 3 carries one byte and
// LEN 6 four.
enum ParameterLayout : std::size_t {
    kParameterReplyLength = 42,  // the longest taken
    kParameterValue = 6,
    kParameterMinLen = 3,
    kParameterMaxLen = 6,  // a wider value does not fit 32 bits
};
// Needs LEN 3..6.
constexpr std::optional<std::uint32_t> DecodeParameterReply(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Whole(frame, length)) return std::nullopt;
    const std::size_t len = frame[kOffsetLen];
    if (len < kParameterMinLen || len > kParameterMaxLen) return std::nullopt;
    // LEN counts the command and result bytes before the value.
    return FieldAt(frame, length, kParameterValue, len - 2);
}

// Table (0x2D) and field (0x2E) description replies.
enum DescriptionLayout : std::size_t {
    kDescriptionReplyLength = 60,  // the longest taken
    kDescriptionMinLen = 44,
    kDescriptionName = 6,  // 6..45, code page 1251; ends at the first 0 byte
    kNameCapacity = 40,    // or after 40
};
// 0x2D: the table's rows and fields.
enum TableLayout : std::size_t { kTableRows = 46, kTableFields = 48 };  // u16, u8
// 0x2E: type code, value width w (at most 4; 0 carries no limits), then the
// low and high limits of w bytes each, zero-extended.
enum FieldLayout : std::size_t { kFieldType = 46, kFieldWidth = 47, kFieldLimits = 48 };

// A name as the dispenser sends it, in code page 1251.
struct NameBytes {
    std::uint8_t length = 0;
    char bytes[kNameCapacity] = {};
    std::string_view view() const { return {bytes, length}; }
    friend bool operator==(const NameBytes&, const NameBytes&) = default;
};

struct TableReply {
    NameBytes name;
    std::uint16_t rows = 0;
    std::uint8_t fields = 0;
    friend bool operator==(const TableReply&, const TableReply&) = default;
};
// Needs LEN 44 or more and the data up to the field count (byte 48).
std::optional<TableReply> DecodeTableReply(const std::uint8_t* frame, std::size_t length);

struct FieldReply {
    NameBytes name;
    std::uint8_t type = 0;
    std::uint8_t width = 0;  // 0..4
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    friend bool operator==(const FieldReply&, const FieldReply&) = default;
};
// Needs LEN 44 or more, a width of at most 4 (wider limits do not fit 32 bits)
// and the data up to the end of the high limit (byte 47 + 2w).
std::optional<FieldReply> DecodeFieldReply(const std::uint8_t* frame, std::size_t length);

}  // namespace zarvik::protocol
