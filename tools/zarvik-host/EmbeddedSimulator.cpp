#include "EmbeddedSimulator.h"

namespace zarvik::host {

EmbeddedSimulator::EmbeddedSimulator(sim::StationConfig config, sim::EndpointOptions options)
    : station_(std::make_unique<sim::Station>(std::move(config))),
      endpoint_(std::make_unique<sim::SerialEndpoint>(*station_, options)) {}

EmbeddedSimulator::~EmbeddedSimulator() { Stop(); }

std::string EmbeddedSimulator::Start() {
    path_ = endpoint_->OpenPty();
    endpoint_->Start();
    return path_;
}

void EmbeddedSimulator::Stop() { endpoint_->Stop(); }

}  // namespace zarvik::host
