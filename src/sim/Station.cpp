#include "sim/Station.h"

namespace zarvik::sim {
struct Station::Impl {};
Station::Station(StationConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>()) {}
Station::~Station() = default;
std::optional<Reply> Station::Handle(const std::uint8_t*, std::size_t, TimePoint) { return std::nullopt; }
void Station::Advance(TimePoint) {}
NozzleView Station::Nozzle(int, int) const { return {}; }
double Station::PouredLitres(int, int) const { return 0; }
void Station::SetMeterError(int, int, double) {}
void Station::SetPrice(int, int, std::uint32_t) {}
void Station::SetTotal(int, int, std::uint32_t) {}
bool Station::StartDelivery(int, int, double, TimePoint) { return false; }
void Station::LiftNozzle(int, int, TimePoint) {}
void Station::HangUpNozzle(int, int, TimePoint) {}
void Station::ForceStatus(int, int, std::optional<std::uint8_t>, std::uint8_t) {}
void Station::SetTiming(const Timing&) {}
std::optional<std::uint32_t> Station::Parameter(std::uint8_t, int, int, int) const { return std::nullopt; }
bool Station::SetParameter(std::uint8_t, int, int, int, std::uint32_t) { return false; }
void Station::SetFaultRate(FaultMode, double, std::uint32_t) {}
void Station::SetFaultNext(FaultMode, int) {}
void Station::ClearFaults() {}
void Station::SetFaultDelay(std::chrono::milliseconds) {}
StationStats Station::Stats() const { return {}; }
}  // namespace zarvik::sim
