#include "station/StatusReplies.h"

#include "protocol/Frame.h"
#include "protocol/Replies.h"

namespace zarvik::host {

namespace proto = zarvik::protocol;

namespace {

constexpr double kLitreScale = 1000.0;
constexpr double kMoneyScale = 100.0;

}  // namespace

void StatusReplies::Observe(const port::FrameTraceEvent& event) {
    const std::uint8_t* bytes = event.bytes.data();
    const std::size_t length = event.bytes.size();
    std::lock_guard lock(mutex_);
    Request& request = sent_[event.line];
    if (event.direction == port::FrameDirection::Sent) {
        request.status = length > proto::kOffsetNozzle && bytes[proto::kOffsetCommand] == proto::kCmdStatus;
        if (request.status) {
            request.address = bytes[proto::kOffsetAddress];
            request.nozzle = bytes[proto::kOffsetNozzle];
        }
        return;
    }
    if (event.direction != port::FrameDirection::Received || !request.status) return;
    // The same bytes the driver decodes: the port service has already dropped
    // late and foreign replies it can tell by their sequence and address.
    if (!proto::IsWholeFrame(bytes, length)) return;
    const auto reply = proto::DecodeStatusReply(bytes, length);
    if (!reply) return;
    replies_[{event.line, request.address, request.nozzle}] = {reply->volume / kLitreScale, reply->money / kMoneyScale,
                                                               reply->code};
    request.status = false;  // one reply per request
}

void StatusReplies::Forget(int line) {
    std::lock_guard lock(mutex_);
    std::erase_if(replies_, [line](const auto& entry) { return std::get<0>(entry.first) == line; });
}

std::optional<NozzleReply> StatusReplies::Find(int line, int dispenser, int nozzle) const {
    const proto::BusAddress bus = proto::DispenserAddress(dispenser, nozzle);
    std::lock_guard lock(mutex_);
    const auto it = replies_.find({line, bus.address, bus.nozzle});
    if (it == replies_.end()) return std::nullopt;
    return it->second;
}

}  // namespace zarvik::host
