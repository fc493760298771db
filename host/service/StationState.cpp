#include "service/StationState.h"

namespace zarvik::service {

const char* HealthName(Health health) {
    switch (health) {
        case Health::Good:
            return "good";
        case Health::Failing:
            return "failing";
        case Health::Dead:
            break;
    }
    return "dead";
}

void StationState::AddPump(int line, int dispenser) {
    std::lock_guard lock(mutex_);
    pumps_.try_emplace({line, dispenser});
}

void StationState::AddLine(int line) {
    std::lock_guard lock(mutex_);
    lines_.try_emplace(line);
}

namespace {

// What a pump event follows: not the values, which change on every poll of a delivery.
bool SameSummary(const PumpRecord& a, const PumpRecord& b) {
    const auto state = [](const PumpRecord& r) { return r.lastGood ? int{r.lastGood->state} : -1; };
    const auto nozzle = [](const PumpRecord& r) { return r.lastGood ? r.lastGood->nozzle : -1; };
    const auto fault = [](const PumpRecord& r) { return r.fault ? r.fault->cause : std::string(); };
    return a.polled == b.polled && a.live == b.live && state(a) == state(b) && nozzle(a) == nozzle(b) &&
           a.fault.has_value() == b.fault.has_value() && fault(a) == fault(b);
}

}  // namespace

void StationState::OnPumpChanged(PumpChanged observer) {
    std::lock_guard lock(mutex_);
    pumpChanged_.push_back(std::move(observer));
}

void StationState::Changed(int line, int dispenser, const PumpRecord& before, const PumpRecord& after) const {
    if (pumpChanged_.empty() || SameSummary(before, after)) return;
    for (const PumpChanged& observer : pumpChanged_) observer(line, dispenser, after);
}

void StationState::PollGood(int line, int dispenser, const PumpReading& reading) {
    std::lock_guard lock(mutex_);
    const auto pump = pumps_.find({line, dispenser});
    if (pump == pumps_.end()) return;
    const PumpRecord before = pump->second;
    pump->second.polled = true;
    pump->second.live = true;
    pump->second.lastGood = reading;
    pump->second.fault.reset();
    if (const auto l = lines_.find(line); l != lines_.end()) l->second.lastGoodAt = reading.at;
    Changed(line, dispenser, before, pump->second);
}

void StationState::PollFailed(int line, int dispenser, const Fault& fault) {
    std::lock_guard lock(mutex_);
    const auto pump = pumps_.find({line, dispenser});
    if (pump == pumps_.end()) return;
    const PumpRecord before = pump->second;
    pump->second.polled = true;
    pump->second.live = false;
    pump->second.fault = fault;
    if (const auto l = lines_.find(line); l != lines_.end()) l->second.lastFault = fault;
    Changed(line, dispenser, before, pump->second);
}

void StationState::CycleEnded(int line, const CycleEnd& cycle) {
    std::lock_guard lock(mutex_);
    const auto l = lines_.find(line);
    if (l == lines_.end()) return;
    LineRecord& r = l->second;
    r.health = cycle.good == 0 ? Health::Dead : cycle.failed > 0 ? Health::Failing : Health::Good;
    r.open = cycle.open;
    r.statistics = cycle.statistics;
    r.cycleMs = cycle.milliseconds;
    ++r.pollCycles;
}

void StationState::PriceSet(int line, int dispenser, int nozzle, double price) {
    std::lock_guard lock(mutex_);
    const auto pump = pumps_.find({line, dispenser});
    if (pump == pumps_.end() || nozzle < 1 || nozzle > kMaxNozzles) return;
    const auto i = static_cast<std::size_t>(nozzle - 1);
    pump->second.price[i] = price;
    if (pump->second.pendingPrice[i] == price) pump->second.pendingPrice[i].reset();
}

void StationState::PricePending(int line, int dispenser, int nozzle, double price) {
    std::lock_guard lock(mutex_);
    const auto pump = pumps_.find({line, dispenser});
    if (pump == pumps_.end() || nozzle < 1 || nozzle > kMaxNozzles) return;
    pump->second.pendingPrice[static_cast<std::size_t>(nozzle - 1)] = price;
}

std::optional<PumpRecord> StationState::Pump(int line, int dispenser) const {
    std::lock_guard lock(mutex_);
    const auto pump = pumps_.find({line, dispenser});
    if (pump == pumps_.end()) return std::nullopt;
    return pump->second;
}

std::vector<PumpEntry> StationState::Pumps() const {
    std::vector<PumpEntry> entries;
    std::lock_guard lock(mutex_);
    entries.reserve(pumps_.size());
    for (const auto& [key, record] : pumps_) entries.push_back({key.first, key.second, record});
    return entries;
}

std::optional<LineRecord> StationState::Line(int line) const {
    std::lock_guard lock(mutex_);
    const auto l = lines_.find(line);
    if (l == lines_.end()) return std::nullopt;
    return l->second;
}

}  // namespace zarvik::service
