// A simulated station inside this process, for the demo and the station
// window: the driver reaches it through the real serial port service exactly
// as it would a dispenser on a serial line. On POSIX it is served on a
// pseudo-terminal (EmbeddedSimulator.cpp); Windows has none, so there the
// port service reaches it through an in-process loopback device paced like a
// wire (EmbeddedSimulatorLoopback.cpp, port/LoopbackDevice.h).
#pragma once

#include <memory>
#include <string>

#include "port/SerialPortManager.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace zarvik::host {

class EmbeddedSimulator {
public:
    explicit EmbeddedSimulator(sim::StationConfig config = {}, sim::EndpointOptions options = {});
    ~EmbeddedSimulator();

    // Starts serving; returns the device the port service should open.
    // Throws std::system_error.
    std::string Start();
    void Stop();
    // The devices the port service must be made with to reach the station
    // (the system's own for the pseudo-terminal).
    port::DeviceFactory Devices() const;
    // Where the station is served, for the user: the pseudo-terminal.
    std::string Describe() const;

    sim::Station& GetStation() { return *station_; }
    const std::string& Path() const { return path_; }

private:
    struct Serving;
    std::unique_ptr<sim::Station> station_;
    std::unique_ptr<Serving> serving_;
    std::string path_;
};

}  // namespace zarvik::host
