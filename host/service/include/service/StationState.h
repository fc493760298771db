// What the station service knows of its lines and pumps, shared between the
// line workers (writers) and the HTTP handler threads (readers). Every
// member locks; readers get copies.
//
// A pump keeps its latest poll and its latest good poll apart: a failed poll
// never replaces the values of the last good one, and its cause and time are
// kept as the pump's fault until a good poll clears it.
//
// A line's health is judged on its latest whole poll cycle: dead when no
// dispenser poll of it was good, failing when some failed, good when none
// did. Before the first whole cycle a line counts as dead.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port/LineStatistics.h"

namespace zarvik::service {

using WallTime = std::chrono::system_clock::time_point;

inline constexpr int kMaxNozzles = 6;

struct Fault {
    std::string cause;
    WallTime at;
};

// One good poll of a dispenser: its state and the nozzle it names, every
// nozzle's state, and each nozzle's values from that nozzle's own reply.
struct PumpReading {
    WallTime at;
    std::uint8_t state = 0;
    int nozzle = 0;  // 0: none
    std::array<std::uint8_t, kMaxNozzles> nozzleStates{};
    struct Values {
        double litres = 0.0;
        double money = 0.0;
        std::uint8_t status = 0;  // the nozzle's own status code (reply byte 31)
    };
    std::array<std::optional<Values>, kMaxNozzles> values{};  // nullopt: not polled
};

struct PumpRecord {
    bool polled = false;                  // any poll ended, good or not
    bool live = false;                    // the latest poll was good
    std::optional<PumpReading> lastGood;  // the latest good poll
    std::optional<Fault> fault;           // the latest poll's failure while not live
    // Per nozzle: the price the service last set and the dispenser accepted,
    // and one held until the nozzle is idle.
    std::array<std::optional<double>, kMaxNozzles> price{};
    std::array<std::optional<double>, kMaxNozzles> pendingPrice{};
};

enum class Health { Good, Failing, Dead };
const char* HealthName(Health health);  // "good", "failing", "dead"

struct LineRecord {
    Health health = Health::Dead;
    bool open = false;
    port::LineStatistics statistics;
    std::optional<WallTime> lastGoodAt;
    std::optional<Fault> lastFault;
    std::uint64_t pollCycles = 0;
    double cycleMs = 0.0;  // the latest whole cycle's duration
};

// A registered pump and its record.
struct PumpEntry {
    int line = 0;
    int dispenser = 0;
    PumpRecord record;
};

// The end of one whole poll cycle of a line.
struct CycleEnd {
    int good = 0;  // dispenser polls that were good
    int failed = 0;
    double milliseconds = 0.0;
    bool open = false;
    port::LineStatistics statistics;
};

class StationState {
public:
    // Registers a pump or a line; only registered ones are kept and found.
    void AddPump(int line, int dispenser);
    void AddLine(int line);

    void PollGood(int line, int dispenser, const PumpReading& reading);
    void PollFailed(int line, int dispenser, const Fault& fault);
    void CycleEnded(int line, const CycleEnd& cycle);
    // The dispenser accepted `price` for the nozzle: it is shown, a price
    // pending for it is dropped when it is that one (a newer one stays).
    void PriceSet(int line, int dispenser, int nozzle, double price);
    // `price` is held for the nozzle, replacing one held before.
    void PricePending(int line, int dispenser, int nozzle, double price);

    std::optional<PumpRecord> Pump(int line, int dispenser) const;
    // Every registered pump at one moment (one lock), by line then dispenser.
    std::vector<PumpEntry> Pumps() const;
    std::optional<LineRecord> Line(int line) const;

    // Told when a pump's state code, nozzle, live flag or fault cause changes
    // (not on every poll); called under the state's lock, so in the order of
    // the changes, and must not call back. Set before the workers start;
    // every observer set is told, in the order they were set.
    using PumpChanged = std::function<void(int line, int dispenser, const PumpRecord& record)>;
    void OnPumpChanged(PumpChanged observer);

private:
    void Changed(int line, int dispenser, const PumpRecord& before, const PumpRecord& after) const;
    std::vector<PumpChanged> pumpChanged_;
    mutable std::mutex mutex_;
    std::map<std::pair<int, int>, PumpRecord> pumps_;
    std::map<int, LineRecord> lines_;
};

}  // namespace zarvik::service
