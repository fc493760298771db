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

// LEN of a whole frame of `length` bytes, or -1 when the length is not
// LEN + 5 (or too short to hold LEN).
constexpr int WholeLen(const std::uint8_t* frame, std::size_t length) {
    if (length < kFrameOverhead) return -1;
    const std::size_t len = frame[kOffsetLen];
    return length == len + kFrameOverhead ? static_cast<int>(len) : -1;
}

// True when a whole frame of `length` bytes carries data up to byte `last`
// (the checksum, byte length - 1, is not data).
constexpr bool Carries(std::size_t length, std::size_t last) { return last + 2 <= length; }

constexpr bool Covers(const std::uint8_t* frame, std::size_t length, std::size_t last) {
    return WholeLen(frame, length) >= 0 && Carries(length, last);
}

}  // namespace detail

// Status reply to 0x9F: 35 bytes, LEN 30.
//   7..10   volume counter, u32, thousandths of a litre
//   15..18  money counter, u32, hundredths
//   31      dispenser status code
//   32      flags; bit 3 marks an idle nozzle as lifted
inline constexpr std::uint8_t kStatusReplyLength = 35;
inline constexpr std::size_t kStatusVolume = 7;
inline constexpr std::size_t kStatusMoney = 15;
inline constexpr std::size_t kStatusCode = 31;
inline constexpr std::size_t kStatusFlags = 32;
inline constexpr std::uint8_t kFlagLifted = 0x08;

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
    return StatusReply{ReadLE(frame + kStatusVolume, 4), ReadLE(frame + kStatusMoney, 4), frame[kStatusCode],
                       frame[kStatusFlags]};
}

// Replies to 0x97 start, 0x96 stop, 0x98 clear and 0x9A price: 8 bytes, LEN
// 3; to 0x93/0x94 doses: 17 bytes. The result byte 5 of start, stop and a
// parameter write is 0 when the dispenser took the command.
inline constexpr std::uint8_t kShortReplyLength = 8;
inline constexpr std::uint8_t kDoseReplyLength = 17;
inline constexpr std::uint8_t kResultTaken = 0;
// Needs LEN 2 or more.
constexpr std::optional<std::uint8_t> DecodeResult(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Covers(frame, length, kOffsetResult)) return std::nullopt;
    return frame[kOffsetResult];
}

// Total reply to 0x9B: 12 bytes, LEN 7; 7..10 nozzle total, u32, thousandths.
inline constexpr std::uint8_t kTotalReplyLength = 12;
inline constexpr std::size_t kTotalCounter = 7;
// Needs the data up to byte 10 (LEN 7 or more).
constexpr std::optional<std::uint32_t> DecodeTotalReply(const std::uint8_t* frame, std::size_t length) {
    if (!detail::Covers(frame, length, kTotalCounter + 3)) return std::nullopt;
    return ReadLE(frame + kTotalCounter, 4);
}

// Parameter read reply to 0x1F (and write reply to 0x1E): at most 42 bytes.
// The value fills bytes 6..LEN+3: LEN - 2 bytes, little-endian, so LEN 3
// carries one byte and LEN 6 four.
inline constexpr std::uint8_t kParameterReplyLength = 42;
inline constexpr std::size_t kParameterValue = 6;
inline constexpr std::uint8_t kParameterMinLen = 3;
inline constexpr std::uint8_t kParameterMaxLen = 6;  // a wider value does not fit 32 bits
// Needs LEN 3..6.
constexpr std::optional<std::uint32_t> DecodeParameterReply(const std::uint8_t* frame, std::size_t length) {
    const int len = detail::WholeLen(frame, length);
    if (len < kParameterMinLen || len > kParameterMaxLen) return std::nullopt;
    // LEN counts the command and result bytes before the value.
    return FieldAt(frame, length, kParameterValue, static_cast<std::size_t>(len) - 2);
}

// Table (0x2D) and field (0x2E) description replies: at most 60 bytes, LEN 44
// or more.
//   6..45   name, code page 1251; it ends at the first 0 byte or after 40
//   0x2D: 46..47 row count (u16), 48 field count
//   0x2E: 46 type code, 47 value width w, 48.. low limit (w bytes), then the
//         high limit (w bytes), zero-extended
inline constexpr std::uint8_t kDescriptionReplyLength = 60;
inline constexpr std::uint8_t kDescriptionMinLen = 44;
inline constexpr std::size_t kDescriptionName = 6;
inline constexpr std::size_t kNameCapacity = 40;
inline constexpr std::size_t kTableRows = 46;
inline constexpr std::size_t kTableFields = 48;
inline constexpr std::size_t kFieldType = 46;
inline constexpr std::size_t kFieldWidth = 47;
inline constexpr std::size_t kFieldLimits = 48;

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
