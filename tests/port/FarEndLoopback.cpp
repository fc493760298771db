#include "FarEnd.h"
#include "port/LoopbackDevice.h"

namespace zarvik::testing {

struct FarEnd::Serving {
    std::shared_ptr<port::LoopbackFarEnd> farEnd;
};

FarEnd::FarEnd(sim::Station& station, bool pacing) : serving_(std::make_unique<Serving>()), device_("SIMULATOR") {
    serving_->farEnd = std::make_shared<port::LoopbackFarEnd>(
        [&station](const std::uint8_t* frame, std::size_t length,
                   port::Clock::time_point now) -> std::optional<port::LoopbackReply> {
            auto reply = station.Handle(frame, length, now);
            if (!reply) return std::nullopt;
            return port::LoopbackReply{std::move(reply->bytes), reply->delay};
        },
        pacing);
}

FarEnd::~FarEnd() { Stop(); }

port::DeviceFactory FarEnd::Devices() const { return port::LoopbackDevices(serving_->farEnd); }

void FarEnd::Stop() { serving_->farEnd->HangUp(); }

}  // namespace zarvik::testing
