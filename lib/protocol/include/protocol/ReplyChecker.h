// The reply check as a port service runs it: JudgeReply on the received
// bytes, its verdict stored in the service, state first, then error code.
//
// The driver's checker and the reference host's (which sends the description
// requests itself) are this one function, so a reply is judged the same way
// whoever asked for it.
#pragma once

#include <cstdint>

#include "protocol/Frame.h"
#include "zarvik/port_manager.h"

namespace zarvik::protocol {

// Judges `length` bytes at `reply` (only the low byte of length counts, as
// the checker interface says), stores state and error for `line` in `port`
// and returns true for a good reply. Inline: it runs in every exchange.
inline bool CheckReplyInto(TPortManager& port, std::uint8_t line, const std::uint8_t* reply, std::int32_t length) {
    const ReplyVerdict verdict = JudgeReply(reply, static_cast<std::uint8_t>(length));
    port.SetLineState(line, verdict.state);
    port.SetLineError(line, verdict.error);
    return verdict.state == kLineStateGood;
}

// A checker bound to a port service alone, for callers without a driver
// object: it stores its verdict in `port`.
TReplyChecker ReplyCheckerFor(TPortManager& port);

}  // namespace zarvik::protocol
