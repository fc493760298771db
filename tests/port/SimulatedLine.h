// A line for integration tests: a simulated station served unpaced on a
// pseudo-terminal (on Windows through the in-process loopback device,
// FarEnd.h), the real serial port service on the other side, and a driver
// object on that service.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FarEnd.h"
#include "driver/VM30.h"
#include "port/SerialPortManager.h"
#include "sim/Station.h"

namespace zarvik::testing {

// Short limits so fault tests finish fast; far above an unpaced pty's
// turnaround even under sanitizers.
port::LineSettings QuickSettings();
sim::StationConfig QuickStation();

class SimulatedLine {
public:
    static constexpr int kLine = 1;

    explicit SimulatedLine(std::int32_t options = 0, sim::StationConfig config = QuickStation());
    ~SimulatedLine();

    sim::Station& station() { return *station_; }
    port::SerialPortManager& port() { return *port_; }
    TVM30& driver() { return *driver_; }
    std::uint8_t lineResult() { return driver_->GetLineResult(kLine); }
    std::int32_t lineError() { return port_->GetLineError(kLine); }
    void StopSimulator() { farEnd_->Stop(); }
    const std::string& Path() const { return path_; }
    // The devices a second port service on the same far end must be made with.
    port::DeviceFactory Devices() const { return farEnd_->Devices(); }

    // Command codes of the frames sent since the last call.
    std::vector<std::uint8_t> TakeSentCommands();

private:
    std::unique_ptr<sim::Station> station_;
    std::unique_ptr<FarEnd> farEnd_;
    std::unique_ptr<port::SerialPortManager> port_;
    std::unique_ptr<TVM30> driver_;
    std::string path_;
    std::mutex sentMutex_;
    std::vector<std::uint8_t> sent_;
};

}  // namespace zarvik::testing
