#include "SimulatedLine.h"

#include <gtest/gtest.h>

#include "library/DriverObject.h"

namespace zarvik::testing {

port::LineSettings QuickSettings() {
    port::LineSettings s;
    s.response = std::chrono::milliseconds(150);
    s.interByte = std::chrono::milliseconds(40);
    s.drainQuiet = std::chrono::milliseconds(40);
    return s;
}

sim::StationConfig QuickStation() {
    sim::StationConfig c;
    c.timing.authorisedSeconds = 0.01;
    c.timing.liftedSeconds = 0.01;
    c.timing.flowLitresPerSecond = 100.0;
    c.timing.slowdownLitres = 0.5;
    c.timing.hangUpSeconds = 0.05;
    return c;
}

SimulatedLine::SimulatedLine(std::int32_t options, sim::StationConfig config)
    : station_(std::make_unique<sim::Station>(std::move(config))),
      farEnd_(std::make_unique<FarEnd>(*station_, /*pacing*/ false)) {
    port_ = std::make_unique<port::SerialPortManager>(farEnd_->Devices());
    port_->SetDevice(kLine, farEnd_->Device());
    path_ = farEnd_->Device();
    port_->SetSettings(kLine, QuickSettings());
    port_->SetTraceHook([this](const port::FrameTraceEvent& e) {
        if (e.direction != port::FrameDirection::Sent || e.bytes.size() < 5) return;
        std::lock_guard lock(sentMutex_);
        sent_.push_back(e.bytes[4]);
    });
    driver_.reset(CreateDriver(options, 0, port_.get()));
    EXPECT_EQ(driver_->OpenPort(kLine), 0);
}

SimulatedLine::~SimulatedLine() {
    port_->CloseLine(kLine);
    farEnd_->Stop();
}

std::vector<std::uint8_t> SimulatedLine::TakeSentCommands() {
    std::lock_guard lock(sentMutex_);
    return std::exchange(sent_, {});
}

}  // namespace zarvik::testing
