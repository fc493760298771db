#include "FarEnd.h"
#include "sim/SerialEndpoint.h"

namespace zarvik::testing {

struct FarEnd::Serving {
    Serving(sim::Station& station, const sim::EndpointOptions& options) : endpoint(station, options) {}
    sim::SerialEndpoint endpoint;
};

FarEnd::FarEnd(sim::Station& station, bool pacing) {
    sim::EndpointOptions options;
    options.pacing = pacing;
    serving_ = std::make_unique<Serving>(station, options);
    device_ = serving_->endpoint.OpenPty();
    serving_->endpoint.Start();
}

FarEnd::~FarEnd() { Stop(); }

port::DeviceFactory FarEnd::Devices() const { return port::MakeSystemDevice; }

void FarEnd::Stop() { serving_->endpoint.Stop(); }

}  // namespace zarvik::testing
