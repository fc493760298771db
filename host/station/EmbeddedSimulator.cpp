#include "station/EmbeddedSimulator.h"

namespace zarvik::host {

struct EmbeddedSimulator::Serving {
    Serving(sim::Station& station, const sim::EndpointOptions& options) : endpoint(station, options) {}
    sim::SerialEndpoint endpoint;
};

EmbeddedSimulator::EmbeddedSimulator(sim::StationConfig config, sim::EndpointOptions options)
    : station_(std::make_unique<sim::Station>(std::move(config))),
      serving_(std::make_unique<Serving>(*station_, options)) {}

EmbeddedSimulator::~EmbeddedSimulator() { Stop(); }

std::string EmbeddedSimulator::Start() {
    path_ = serving_->endpoint.OpenPty();
    serving_->endpoint.Start();
    return path_;
}

void EmbeddedSimulator::Stop() { serving_->endpoint.Stop(); }

port::DeviceFactory EmbeddedSimulator::Devices() const { return port::MakeSystemDevice; }

std::string EmbeddedSimulator::Describe() const { return path_; }

}  // namespace zarvik::host
