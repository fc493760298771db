// What the station window knows of one dispenser between polls: its last
// good reading, whether the latest poll failed, and a delivery the line lost.
//
// A reading that failed takes no values: the row then shows none as current.
// A failure that comes while the last good reading showed a delivery keeps
// that delivery, with its last good values and the time the line was lost,
// until Acknowledge; later readings, good or not, leave it as it is.
#pragma once

#include <chrono>
#include <optional>

#include "stationwindow/LinePoller.h"

namespace zarvik::host {

struct LostDelivery {
    int nozzle = 0;
    bool hasValues = false;
    double litres = 0;
    double money = 0;
    std::chrono::system_clock::time_point lastGood;  // the values' time
    std::chrono::system_clock::time_point lost;      // the failure's
};

class DispenserRow {
public:
    void Apply(const DispenserReading& reading);
    void Acknowledge() { lost_.reset(); }

    // The latest good reading, if any; nothing else carries values.
    const std::optional<DispenserReading>& LastGood() const { return lastGood_; }
    // The latest reading when it failed.
    const std::optional<DispenserReading>& Failure() const { return failure_; }
    const std::optional<LostDelivery>& Lost() const { return lost_; }
    // No failure, and the last good reading older than `limit` at `now`.
    bool Stale(std::chrono::system_clock::time_point now, std::chrono::milliseconds limit) const;

private:
    std::optional<DispenserReading> lastGood_;
    std::optional<DispenserReading> failure_;
    std::optional<LostDelivery> lost_;
};

}  // namespace zarvik::host
