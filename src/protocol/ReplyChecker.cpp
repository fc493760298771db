#include "protocol/ReplyChecker.h"

#include "protocol/Frame.h"

namespace zarvik::protocol {

namespace {

bool CheckBoundService(void* port, std::uint8_t line, const std::uint8_t* reply, std::int32_t, std::int32_t& length,
                       std::int32_t) {
    return CheckReplyInto(*static_cast<TPortManager*>(port), line, reply, length);
}

}  // namespace

bool CheckReplyInto(TPortManager& port, std::uint8_t line, const std::uint8_t* reply, std::int32_t length) {
    const ReplyVerdict verdict = JudgeReply(reply, static_cast<std::uint8_t>(length));
    port.SetLineState(line, verdict.state);
    port.SetLineError(line, verdict.error);
    return verdict.state == kLineStateGood;
}

TReplyChecker ReplyCheckerFor(TPortManager& port) { return TReplyChecker{&CheckBoundService, &port}; }

}  // namespace zarvik::protocol
