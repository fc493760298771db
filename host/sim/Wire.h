// The dispenser's side of the wire: reply layouts, result codes, frame checks.
//
// This encoding is the simulator's own on purpose. The driver, the port
// service and the tools share one codec (lib/protocol); the simulator stands
// at the far end and writes the same wire from its own constants, so it is a
// second opinion the codec is tested against: the codec's golden frames run
// through the station's handler (tests/sim/CodecAgreementTest.cpp), and a
// constant that drifted on either side fails there. Do not replace these
// constants with the codec's.
//
// Request and reply frames share one layout:
//   0 start byte 0x02 | 1 sequence | 2 bus address | 3 LEN | 4.. LEN data bytes | XOR of bytes 1..LEN+3
// Requests carry the command code at byte 4 and the nozzle byte (dispensing
// commands) at byte 5. Every reply echoes the request's sequence number and
// address, repeats the command code at byte 4 and carries a result code at
// byte 5 (0 = accepted). Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarvik::sim::wire {

inline constexpr std::uint8_t kStartByte = 0x02;
inline constexpr std::size_t kOffsetSequence = 1;
inline constexpr std::size_t kOffsetAddress = 2;
inline constexpr std::size_t kOffsetLen = 3;
inline constexpr std::size_t kOffsetCommand = 4;
inline constexpr std::size_t kOffsetNozzle = 5;   // requests of the dispensing commands
inline constexpr std::size_t kFrameOverhead = 5;  // start, sequence, address, LEN, checksum
inline constexpr std::size_t kMaxFrame = 255;

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

// Result code, reply byte 5.
inline constexpr std::size_t kReplyResult = 5;
inline constexpr std::uint8_t kResultAccepted = 0;
inline constexpr std::uint8_t kResultRefused = 1;      // the nozzle's state does not allow it (or refusal injected)
inline constexpr std::uint8_t kResultNoNozzle = 2;     // no nozzle at this nozzle byte
inline constexpr std::uint8_t kResultNoParameter = 3;  // no such table, row or field
inline constexpr std::uint8_t kResultOutOfLimits = 4;  // value outside the field's limits or of the wrong width
inline constexpr std::uint8_t kResultMalformed = 5;    // request data too short for its command

// Request data lengths (LEN) the commands need at least.
inline constexpr std::size_t kLenNozzleRequest = 2;  // code, nozzle byte
inline constexpr std::size_t kLenVolumeDose = 6;     // code, nozzle, dose x1000 (4)
inline constexpr std::size_t kLenMoneyDose = 6;      // code, nozzle, dose x100 (4) [, 0x00]
inline constexpr std::size_t kLenPrice = 8;          // code, nozzle, coefficient x1000 (3), price x100 (3)
inline constexpr std::size_t kLenParameterRead = 5;  // code, table, row (2), field
inline constexpr std::size_t kLenTableInfo = 2;      // code, table
inline constexpr std::size_t kLenFieldInfo = 3;      // code, table, field

// Request data offsets.
inline constexpr std::size_t kReqDose = 6;            // 0x93/0x94: 4 bytes
inline constexpr std::size_t kReqCoefficient = 6;     // 0x9A: 3 bytes, thousandths
inline constexpr std::size_t kReqPrice = 9;           // 0x9A: 3 bytes, hundredths
inline constexpr std::size_t kReqTable = 5;           // 0x1F/0x1E/0x2D/0x2E
inline constexpr std::size_t kReqRow = 6;             // 0x1F/0x1E: 2 bytes
inline constexpr std::size_t kReqField = 8;           // 0x1F/0x1E
inline constexpr std::size_t kReqFieldInfoField = 6;  // 0x2E
inline constexpr std::size_t kReqWriteValue = 9;      // 0x1E: width bytes

// Reply 0x9F: 35 bytes, LEN 30.
inline constexpr std::uint8_t kLenStatusReply = 30;
inline constexpr std::size_t kStatusNozzle = 6;
inline constexpr std::size_t kStatusVolume = 7;  // 4 bytes, thousandths of a litre
inline constexpr std::size_t kStatusPrice = 11;  // 4 bytes, hundredths
inline constexpr std::size_t kStatusMoney = 15;  // 4 bytes, hundredths
inline constexpr std::size_t kStatusDose = 19;   // 4 bytes, thousandths (volume target of the delivery)
inline constexpr std::size_t kStatusTotal = 23;  // 4 bytes, thousandths
inline constexpr std::size_t kStatusCode = 31;   // dispenser status code
inline constexpr std::size_t kStatusFlags = 32;  // bit 3: nozzle out of its holder
inline constexpr std::uint8_t kFlagNozzleLifted = 0x08;

// Replies 0x98, 0x97, 0x96, 0x9A: 8 bytes, LEN 3 (code, result, nozzle byte).
inline constexpr std::uint8_t kLenShortReply = 3;
inline constexpr std::size_t kShortNozzle = 6;

// Replies 0x93, 0x94: 17 bytes, LEN 12 (code, result, nozzle, dose as sent (4), price (4), 0).
inline constexpr std::uint8_t kLenDoseReply = 12;
inline constexpr std::size_t kDoseNozzle = 6;
inline constexpr std::size_t kDoseValue = 7;
inline constexpr std::size_t kDosePrice = 11;

// Reply 0x9B: 12 bytes, LEN 7 (code, result, nozzle, total (4)).
inline constexpr std::uint8_t kLenTotalReply = 7;
inline constexpr std::size_t kTotalNozzle = 6;
inline constexpr std::size_t kTotalValue = 7;  // thousandths of a litre

// Reply 0x1F: LEN 2 + width, value from byte 6; a refusal has LEN 2 and no value.
// Reply 0x1E: LEN 2 (code, result).
inline constexpr std::uint8_t kLenParameterBase = 2;
inline constexpr std::size_t kParameterValue = 6;

// Reply 0x2D: LEN 45: name 6..45 (code page 1251, 0-padded), rows 46..47, field count 48.
// Reply 0x2E: LEN 44 + 2w: name 6..45, type 46, width 47, low limit 48.., high limit after it.
inline constexpr std::size_t kNameOffset = 6;
inline constexpr std::size_t kNameSize = 40;
inline constexpr std::uint8_t kLenTableReply = 45;
inline constexpr std::size_t kTableRows = 46;
inline constexpr std::size_t kTableFieldCount = 48;
inline constexpr std::uint8_t kLenFieldReplyBase = 44;
inline constexpr std::size_t kFieldType = 46;
inline constexpr std::size_t kFieldWidth = 47;
inline constexpr std::size_t kFieldLimits = 48;

// XOR of bytes [first, last] of a buffer, starting from 0.
constexpr std::uint8_t Xor(const std::uint8_t* bytes, std::size_t first, std::size_t last) {
    std::uint8_t x = 0;
    for (std::size_t i = first; i <= last; ++i) x ^= bytes[i];
    return x;
}

// True when bytes[0..length) is exactly one well-formed frame: start byte,
// length LEN + 5, checksum. Reads nothing past `length`.
bool IsFrame(const std::uint8_t* bytes, std::size_t length);

// Little-endian field helpers; `width` is 1..4.
std::uint32_t GetLe(const std::uint8_t* bytes, std::size_t width);
void PutLe(std::uint8_t* bytes, std::uint32_t value, std::size_t width);

}  // namespace zarvik::sim::wire
