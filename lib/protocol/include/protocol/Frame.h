// The dispenser wire protocol: frame layout, command codes, bus addressing,
// request frames and the reply check.
//
// Request and reply share one layout:
//   offset 0      start byte 0x02
//   offset 1      sequence number (the line's counter before it advances)
//   offset 2      bus address (payload byte 0)
//   offset 3      LEN: number of bytes after the address, checksum excluded
//   offset 4..    LEN bytes: command code first, then its data
//   offset LEN+4  XOR of bytes 1..LEN+3 (the start byte is not included)
// A frame is LEN + 5 bytes; a payload of n bytes gives a frame of n + 4.
//
// Nothing here does I/O or allocates: every function works on buffers its
// caller owns, and reads a received buffer only below the length it is given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarvik::protocol {

inline constexpr std::uint8_t kStartByte = 0x02;

inline constexpr std::size_t kOffsetStart = 0;
inline constexpr std::size_t kOffsetSequence = 1;
inline constexpr std::size_t kOffsetAddress = 2;
inline constexpr std::size_t kOffsetLen = 3;
inline constexpr std::size_t kOffsetData = 4;     // first byte after LEN
inline constexpr std::size_t kOffsetCommand = 4;  // the command code, in requests and replies
inline constexpr std::size_t kOffsetNozzle = 5;   // the nozzle byte of a dispensing request
inline constexpr std::size_t kOffsetResult = 5;   // a reply's result byte: 0 when the command was taken
inline constexpr std::uint8_t kResultTaken = 0;
inline constexpr std::size_t kOffsetReplyNozzle = 6;  // a dispensing reply's nozzle byte, after command and result
inline constexpr std::size_t kFrameOverhead = 5;      // start, sequence, address, LEN, checksum

inline constexpr std::size_t kMaxFrame = 255;
inline constexpr std::size_t kMaxPayload = kMaxFrame - 4;  // 251

// Command codes.
inline constexpr std::uint8_t kCmdStatus = 0x9F;
inline constexpr std::uint8_t kCmdClear = 0x98;
inline constexpr std::uint8_t kCmdStart = 0x97;
inline constexpr std::uint8_t kCmdStop = 0x96;
inline constexpr std::uint8_t kCmdVolumeDose = 0x93;
inline constexpr std::uint8_t kCmdMoneyDose = 0x94;
inline constexpr std::uint8_t kCmdPrice = 0x9A;
inline constexpr std::uint8_t kCmdTotal = 0x9B;
inline constexpr std::uint8_t kCmdReadParameter = 0x1F;
inline constexpr std::uint8_t kCmdWriteParameter = 0x1E;
inline constexpr std::uint8_t kCmdTableInfo = 0x2D;
inline constexpr std::uint8_t kCmdFieldInfo = 0x2E;

// True for the commands whose request carries a nozzle byte (at byte 5) and
// whose reply repeats it at byte 6: status, clear, start, stop, doses, price,
// total.
constexpr bool CarriesNozzle(std::uint8_t command) {
    switch (command) {
        case kCmdStatus:
        case kCmdClear:
        case kCmdStart:
        case kCmdStop:
        case kCmdVolumeDose:
        case kCmdMoneyDose:
        case kCmdPrice:
        case kCmdTotal:
            return true;
        default:
            return false;
    }
}

// Bus address and nozzle byte of (dispenser d, nozzle k): dispensers 2m-1 and
// 2m share address m; the odd one uses nozzle bytes k-1, the even one k+4.
struct BusAddress {
    std::uint8_t address;
    std::uint8_t nozzle;
};

constexpr BusAddress DispenserAddress(int dispenser, int nozzle) {
    const auto address = static_cast<std::uint8_t>((dispenser + 1) / 2);
    const auto nozzleByte = static_cast<std::uint8_t>(dispenser % 2 == 1 ? nozzle - 1 : nozzle + 4);
    return {address, nozzleByte};
}

// XOR of bytes [first, last] of a buffer, starting from 0.
constexpr std::uint8_t Xor(const std::uint8_t* bytes, std::size_t first, std::size_t last) {
    std::uint8_t x = 0;
    for (std::size_t i = first; i <= last; ++i) x ^= bytes[i];
    return x;
}

// Builds the request frame of payload[0..n-1] (1 <= n <= 251) with the given
// sequence number into frame (room for n + 4 bytes); returns the frame length.
std::size_t BuildFrame(std::uint8_t sequence, const std::uint8_t* payload, std::size_t n, std::uint8_t* frame);

// Judgement of `length` received bytes, in the order of the checks:
//   length differs from LEN + 5 (also when fewer than 5 bytes came) -> 3, 246
//   start byte is not 0x02                                          -> 3, 223
//   checksum differs                                                -> 3, 222
//   otherwise                                                       -> 1, 0
// (the line state and error code the reply checker stores). Sequence number
// and address are not compared with the request's. Nothing at or past
// `length` is read.
struct ReplyVerdict {
    std::uint8_t state;  // 1 good, 3 bad
    std::int32_t error;  // 0, 246, 223 or 222
};
ReplyVerdict JudgeReply(const std::uint8_t* reply, std::size_t length);

// True when bytes[0..length) is exactly one frame that JudgeReply finds good.
bool IsWholeFrame(const std::uint8_t* bytes, std::size_t length);

// Does a whole reply frame answer a request frame? A reply repeats the
// request's bus address (byte 2) and command code (byte 4) and, for the
// commands that carry one, its nozzle byte (request byte 5, reply byte 6; a
// reply too short to hold it answers no nozzle). The sequence number is not
// compared here. Reads nothing at or past either length.
enum class ReplyMatch { Answers, OtherAddress, OtherCommand, OtherNozzle };
ReplyMatch MatchReply(const std::uint8_t* request, std::size_t requestLength, const std::uint8_t* reply,
                      std::size_t replyLength);

// True when a reply that answers its request refuses it: its command byte is
// the request's and its result byte (5) is not 0.
bool RefusesRequest(const std::uint8_t* request, std::size_t requestLength, const std::uint8_t* reply,
                    std::size_t replyLength);

// The length of the reply a good line state vouches for in a command's buffer
// of `capacity` bytes: LEN + 5, the length the reply check accepted. 0 when
// LEN announces more than the buffer holds (no reply judged good can do
// that), so a decoder given it finds nothing.
constexpr std::size_t JudgedLength(const std::uint8_t* reply, std::size_t capacity) {
    if (capacity <= kOffsetLen) return 0;
    const std::size_t length = std::size_t{reply[kOffsetLen]} + kFrameOverhead;
    return length <= capacity ? length : 0;
}

}  // namespace zarvik::protocol
