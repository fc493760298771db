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

bool IsWholeFrame(const std::uint8_t* bytes, std::size_t length) {
    return JudgeReply(bytes, length).state == kLineStateGood;
}

}  // namespace zarvik::protocol
