// Where a test line's simulated station is served: on a pseudo-terminal
// (POSIX, FarEndPty.cpp), or through the port service's in-process loopback
// device where there are none (Windows, FarEndLoopback.cpp). Either way the
// real port service reaches it through a device of its own.
#pragma once

#include <memory>
#include <string>

#include "port/SerialPortManager.h"
#include "sim/Station.h"

namespace zarvik::testing {

class FarEnd {
public:
    // Serves `station` at once; pacing: replies at 9600 baud, as on a wire.
    FarEnd(sim::Station& station, bool pacing);
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // The devices the port service must be made with.
    port::DeviceFactory Devices() const;
    // The device name to map the line to.
    const std::string& Device() const { return device_; }
    // The far end goes away: the line hangs up.
    void Stop();

private:
    struct Serving;
    std::unique_ptr<Serving> serving_;
    std::string device_;
};

}  // namespace zarvik::testing
