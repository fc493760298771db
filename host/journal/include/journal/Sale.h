// A sale as the journal keeps it: one delivery on one nozzle, from the entry
// written before its first command to the sale's end, and its acknowledgement.
//
// States: authorising (written, its start not yet known to be sent),
// authorised (sent, the dispenser took it), delivering (a poll saw fuel
// flowing), then one of finished, stopped, failed (never sent, or refused),
// reconciled (closed on a restart from the dispenser's present totals).
// The last four are ended; only ended sales can be acknowledged.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarvik::journal {

using WallTime = std::chrono::system_clock::time_point;
using SaleId = std::int64_t;

enum class SaleState { Authorising, Authorised, Delivering, Finished, Stopped, Failed, Reconciled };

// "authorising", "authorised", "delivering", "finished", "stopped", "failed", "reconciled".
const char* StateName(SaleState state);
std::optional<SaleState> StateFromName(std::string_view name);
bool IsEnded(SaleState state);

enum class PresetKind { None, Litres, Money };  // None: no dose (a delivery not authorised here)

struct Preset {
    PresetKind kind = PresetKind::None;
    double amount = 0.0;  // litres or money, as KIND says
};

struct NozzleKey {
    int line = 0;
    int dispenser = 0;
    int nozzle = 0;
    friend bool operator==(const NozzleKey&, const NozzleKey&) = default;
};

struct Sale {
    SaleId id = 0;
    NozzleKey where;
    Preset preset;
    double price = 0.0;
    bool authorisedHere = true;         // false: a delivery the service found, not started
    std::optional<double> totalBefore;  // the nozzle's litres total before the sale
    std::optional<double> totalAfter;
    std::optional<double> litres;  // set when the sale ends with a volume
    std::optional<double> money;
    SaleState state = SaleState::Authorising;
    std::string cause;  // why it failed, or how it was reconciled
    WallTime startedAt;
    WallTime updatedAt;
    std::optional<WallTime> endedAt;
    std::optional<WallTime> acknowledgedAt;
};

}  // namespace zarvik::journal
