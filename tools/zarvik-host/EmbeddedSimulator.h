// A simulated station served on a pseudo-terminal inside this process, for
// the demo and the station window: the driver reaches it through the real
// serial port service exactly as it would a dispenser on a serial line.
#pragma once

#include <memory>
#include <string>

#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace zarvik::host {

class EmbeddedSimulator {
public:
    explicit EmbeddedSimulator(sim::StationConfig config = {}, sim::EndpointOptions options = {});
    ~EmbeddedSimulator();

    // Opens the pseudo-terminal, starts serving; returns the device path the
    // port service should open. Throws std::system_error.
    std::string Start();
    void Stop();

    sim::Station& GetStation() { return *station_; }
    const std::string& Path() const { return path_; }

private:
    std::unique_ptr<sim::Station> station_;
    std::unique_ptr<sim::SerialEndpoint> endpoint_;
    std::string path_;
};

}  // namespace zarvik::host
