#include "protocol/ReplyChecker.h"

namespace zarvik::protocol {

namespace {

bool CheckBoundService(void* port, std::uint8_t line, const std::uint8_t* reply, std::int32_t, std::int32_t& length,
                       std::int32_t) {
    return CheckReplyInto(*static_cast<TPortManager*>(port), line, reply, length);
}

}  // namespace

TReplyChecker ReplyCheckerFor(TPortManager& port) { return TReplyChecker{&CheckBoundService, &port}; }

}  // namespace zarvik::protocol
