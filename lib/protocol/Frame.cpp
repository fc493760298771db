#include "protocol/Frame.h"

#include "zarvik/port_manager.h"

namespace zarvik::protocol {

std::size_t BuildFrame(std::uint8_t sequence, const std::uint8_t* payload, std::size_t n, std::uint8_t* frame) {
    frame[kOffsetStart] = kStartByte;
    frame[kOffsetSequence] = sequence;
    frame[kOffsetAddress] = payload[0];
    frame[kOffsetLen] = static_cast<std::uint8_t>(n - 1);
    for (std::size_t i = 1; i < n; ++i) frame[kOffsetData + i - 1] = payload[i];
    frame[n + 3] = Xor(frame, kOffsetSequence, n + 2);
    return n + 4;
}

ReplyVerdict JudgeReply(const std::uint8_t* reply, std::size_t length) {
    // A reply shorter than the frame overhead cannot hold LEN; it is judged
    // by its length without looking at bytes that never came.
    if (length < kFrameOverhead || length != static_cast<std::size_t>(reply[kOffsetLen]) + kFrameOverhead)
        return {kLineStateBad, kReplyBadLength};
    if (reply[kOffsetStart] != kStartByte) return {kLineStateBad, kReplyBadStart};
    if (reply[length - 1] != Xor(reply, kOffsetSequence, length - 2)) return {kLineStateBad, kReplyBadChecksum};
    return {kLineStateGood, kReplyOk};
}

namespace {

// A frame of `length` bytes carries data byte `offset` (the checksum comes after it).
constexpr bool HasData(std::size_t length, std::size_t offset) { return offset + 2 <= length; }

}  // namespace

ReplyMatch MatchReply(const std::uint8_t* request, std::size_t requestLength, const std::uint8_t* reply,
                      std::size_t replyLength) {
    if (requestLength <= kOffsetAddress || replyLength <= kOffsetAddress) return ReplyMatch::OtherAddress;
    if (reply[kOffsetAddress] != request[kOffsetAddress]) return ReplyMatch::OtherAddress;
    if (!HasData(requestLength, kOffsetCommand)) return ReplyMatch::Answers;  // a request without a command
    if (!HasData(replyLength, kOffsetCommand) || reply[kOffsetCommand] != request[kOffsetCommand])
        return ReplyMatch::OtherCommand;
    const std::uint8_t command = request[kOffsetCommand];
    // A reply of a nozzle command too short to repeat the nozzle byte (our own
    // request read back is one) answers no nozzle.
    if (CarriesNozzle(command) && HasData(requestLength, kOffsetNozzle) &&
        (!HasData(replyLength, kOffsetReplyNozzle) || reply[kOffsetReplyNozzle] != request[kOffsetNozzle]))
        return ReplyMatch::OtherNozzle;
    return ReplyMatch::Answers;
}

bool RefusesRequest(const std::uint8_t* request, std::size_t requestLength, const std::uint8_t* reply,
                    std::size_t replyLength) {
    return HasData(requestLength, kOffsetCommand) && HasData(replyLength, kOffsetResult) &&
           reply[kOffsetCommand] == request[kOffsetCommand] && reply[kOffsetResult] != kResultTaken;
}

bool IsWholeFrame(const std::uint8_t* bytes, std::size_t length) {
    return JudgeReply(bytes, length).state == kLineStateGood;
}

}  // namespace zarvik::protocol
