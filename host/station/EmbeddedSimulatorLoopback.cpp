// Windows: the station behind an in-process loopback device. Each line's
// device answers through the station's request handler after the endpoint's
// turnaround, paced at its rate like the pseudo-terminal endpoint.
#include "port/LoopbackDevice.h"
#include "station/EmbeddedSimulator.h"

namespace zarvik::host {
namespace {

constexpr char kLoopbackName[] = "SIMULATOR";

}  // namespace

struct EmbeddedSimulator::Serving {
    std::shared_ptr<port::LoopbackFarEnd> farEnd;
};

EmbeddedSimulator::EmbeddedSimulator(sim::StationConfig config, sim::EndpointOptions options)
    : station_(std::make_unique<sim::Station>(std::move(config))), serving_(std::make_unique<Serving>()) {
    sim::Station* station = station_.get();
    const auto turnaround = std::chrono::duration_cast<port::Clock::duration>(options.turnaround);
    serving_->farEnd = std::make_shared<port::LoopbackFarEnd>(
        [station, turnaround](const std::uint8_t* frame, std::size_t length,
                              port::Clock::time_point now) -> std::optional<port::LoopbackReply> {
            auto reply = station->Handle(frame, length, now);
            if (!reply) return std::nullopt;
            return port::LoopbackReply{std::move(reply->bytes), turnaround + reply->delay};
        },
        options.pacing);
}

EmbeddedSimulator::~EmbeddedSimulator() { Stop(); }

std::string EmbeddedSimulator::Start() {
    path_ = kLoopbackName;
    return path_;
}

void EmbeddedSimulator::Stop() { serving_->farEnd->HangUp(); }

port::DeviceFactory EmbeddedSimulator::Devices() const { return port::LoopbackDevices(serving_->farEnd); }

std::string EmbeddedSimulator::Describe() const { return "an in-process loopback line"; }

}  // namespace zarvik::host
