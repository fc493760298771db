// Status polling: command 0x9F per nozzle, the host's state codes, and the
// 0x98 clear that status 13 calls for. The status reply's layout is the
// codec's (protocol/Replies.h).
#include <algorithm>

#include "ComPort.h"
#include "WireValues.h"
#include "driver/VM30.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"

namespace zarvik {

namespace {

// Kinds of host state (upper five bits); the lower three carry the nozzle.
constexpr std::uint8_t kBandFinished = 0xD0;
constexpr std::uint8_t kBandDelivering = 0xD8;
constexpr std::uint8_t kBandLifted = 0xE0;
constexpr std::uint8_t kBandAuthorised = 0xE8;

// Does `code` displace the dispenser code chosen so far?
bool Displaces(std::uint8_t state, std::uint8_t code) {
    switch (state & 0xF8) {
        case 0x00:
            return true;
        case 0xC0:
            return code > 198;
        case 0xC8:
        case 0xE0:
            return (code & 0xD0) == 0xD0 || code == 200;
        default:
            return false;
    }
}

}  // namespace

void TVM30::GetDispenserStatus(std::int32_t line32, std::int32_t dispenser32, std::int32_t nozzleCount32,
                               TDispenserStatus& Result) {
    const std::uint8_t line = line32 & 0xFF;
    const std::uint8_t dispenser = dispenser32 & 0xFF;
    const std::uint8_t nozzleCount = nozzleCount32 & 0xFF;

    Result.State = 0;
    Result.Reserved1 = 0;
    Result.Reserved15 = 0;
    if (dispenser > kDispenserCount || dispenser == 0) RaiseError(texts::kDispenserOutOfRange);
    CheckLine(line);

    // The record and the tables hold six nozzles; more are not polled.
    const int polled = std::min<int>(nozzleCount, kNozzleCount);
    for (int k = 1; k <= polled; ++k) {
        const std::uint8_t code = QueryNozzle(line, dispenser, static_cast<std::uint8_t>(k));
        Result.NozzleStates[k - 1] = code;
        if (lineResult(line) != kLineStateGood) return;
        if (Displaces(Result.State, code)) {
            Result.State = code;
            Result.StateNozzle = static_cast<std::uint8_t>(k);
        }
    }
    Result.StateNozzle = Result.State & 7;
    Result.Reserved15 = 0;
}

std::uint8_t TVM30::QueryNozzle(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle) {
    std::uint8_t reply[protocol::kStatusReplyLength];
    if (SimpleCommand(line, dispenser, nozzle, protocol::kCmdStatus, reply, protocol::kStatusReplyLength,
                      texts::kStatusRequestFailed) != kLineStateGood)
        return 0;
    const auto status = protocol::DecodeStatusReply(reply, protocol::JudgedLength(reply, sizeof reply));
    if (!status) {
        lineResult(line) = kLineStateBad;  // a good frame too short to be a status reply
        return 0;
    }

    std::uint8_t code = DecodeNozzleStatus(line, dispenser, status->code, nozzle);
    if (code == kStateIdle && (status->flags & protocol::kFlagLifted) != 0) code = kBandLifted + nozzle;
    nozzleVolume(line, dispenser, nozzle) = wire::Litres(status->volume);
    nozzleAmount(line, dispenser, nozzle) = wire::Money(status->money);
    return code;
}

std::uint8_t TVM30::DecodeNozzleStatus(std::uint8_t line, std::uint8_t dispenser, std::uint8_t status,
                                       std::uint8_t nozzle) {
    std::uint8_t& state = dispenserState(line, dispenser);
    const std::uint8_t previous = state;
    switch (status) {
        case 0:
        case 1:
        case 2:
        case 9:
        case 15:
            state = kStateIdle;
            break;
        case 3:
        case 5:
        case 6:
            state = kBandAuthorised + nozzle;
            break;
        case 4:
            state = kBandLifted + nozzle;
            break;
        case 7:
        case 8:
            state = kBandDelivering + nozzle;
            break;
        case 10:
        case 14:
            state = kBandFinished + nozzle;
            break;
        case 11:
            if (previous != kStateIdle) state = kBandFinished + nozzle;
            break;
        case 12:
            state =
                (previous == kStateIdle || (previous >= 209 && previous <= 213)) ? kStateIdle : kBandFinished + nozzle;
            break;
        case 13:
            state = kStateIdle;
            ClearNozzle(line, dispenser, nozzle);
            break;
        default:
            break;  // 16..255: unknown to us, the state stays
    }
    return state;
}

void TVM30::ClearNozzle(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle) {
    const protocol::BusAddress bus = protocol::DispenserAddress(dispenser, nozzle);
    std::uint8_t buffer[protocol::kShortReplyLength] = {bus.address, protocol::kCmdClear, bus.nozzle};
    // Nothing of the reply is examined and a failure is not raised; the
    // exchange still leaves its line result.
    (void)Exchange(line, buffer, 3, protocol::kShortReplyLength);
}

}  // namespace zarvik
