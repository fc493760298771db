// The dispensing calls: status poll, doses, price, start, stop, reset, total.
// Each is the driver's operation followed by its line result (Calls.h).
#include <cstring>

#include "Calls.h"

using namespace zarvik::capi;

static_assert(sizeof(zarvik_nozzle_status) == 24);
static_assert(sizeof(zarvik_dispenser_status) == 24 + 6 * 24);
static_assert(offsetof(zarvik_dispenser_status, nozzles) == 24);
static_assert(sizeof(zarvik::TDispenserStatus) == sizeof(zarvik_dispenser_status::record));

namespace {

void FillStatus(zarvik_station& station, int line, int dispenser, int count, const zarvik::TDispenserStatus& record,
                zarvik_dispenser_status& out) {
    std::memcpy(out.record, &record, sizeof out.record);
    out.state = record.State;
    out.state_nozzle = record.StateNozzle;
    out.nozzle_count = static_cast<std::uint8_t>(count);
    for (int k = 1; k <= count; ++k) {
        zarvik_nozzle_status& nozzle = out.nozzles[k - 1];
        nozzle.state = static_cast<std::uint8_t>(record.NozzleStates[k - 1]);
        // Each nozzle's own counters, from its reply to this poll.
        if (const auto reply = station.replies.Find(line, dispenser, k)) {
            nozzle.litres = reply->litres;
            nozzle.money = reply->money;
            nozzle.has_values = 1;
        }
    }
}

// A command on one nozzle: the driver's call, then the line result it left.
template <class Call>
std::int32_t NozzleCommand(zarvik_station* station, std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                           const char* what, Call call) {
    return OnNozzle(station, line, dispenser, nozzle, [&] {
        call(*station->driver);
        return LineOutcome(*station, line, what);
    });
}

}  // namespace

extern "C" {

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_poll(zarvik_station* station, int32_t line, int32_t dispenser,
                                             int32_t nozzle_count, zarvik_dispenser_status* status) {
    return OnLine(station, line, [&] {
        RequirePointer(status, "status");
        *status = zarvik_dispenser_status{};
        RequireRange("dispenser", dispenser, 1, 32);
        RequireRange("nozzle_count", nozzle_count, 1, 6);
        station->replies.Forget(line);
        zarvik::TDispenserStatus record{};
        station->driver->GetDispenserStatus(line, dispenser, nozzle_count, record);
        const std::int32_t outcome = LineOutcome(*station, line, "status poll");
        if (outcome == ZARVIK_OK) FillStatus(*station, line, dispenser, nozzle_count, record, *status);
        return outcome;
    });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_preset_litres(zarvik_station* station, int32_t line, int32_t dispenser,
                                                      int32_t nozzle, double litres) {
    return NozzleCommand(station, line, dispenser, nozzle, "dose in litres",
                         [&](auto& driver) { driver.SetVolumeDose(line, dispenser, nozzle, 0, litres); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_preset_money(zarvik_station* station, int32_t line, int32_t dispenser,
                                                     int32_t nozzle, double money) {
    return NozzleCommand(station, line, dispenser, nozzle, "dose in money",
                         [&](auto& driver) { driver.SetMoneyDose(line, dispenser, nozzle, 0, money); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_price(zarvik_station* station, int32_t line, int32_t dispenser,
                                                  int32_t nozzle, double price) {
    return NozzleCommand(station, line, dispenser, nozzle, "price",
                         [&](auto& driver) { driver.SetNozzlePrice(line, dispenser, nozzle, 0, 0, price); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_start(zarvik_station* station, int32_t line, int32_t dispenser,
                                              int32_t nozzle) {
    return NozzleCommand(station, line, dispenser, nozzle, "start",
                         [&](auto& driver) { driver.StartNozzle(line, dispenser, nozzle, 0); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_stop(zarvik_station* station, int32_t line, int32_t dispenser, int32_t nozzle) {
    return NozzleCommand(station, line, dispenser, nozzle, "stop",
                         [&](auto& driver) { driver.StopNozzle(line, dispenser, nozzle, 1); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_reset(zarvik_station* station, int32_t line, int32_t dispenser,
                                              int32_t nozzle) {
    return NozzleCommand(station, line, dispenser, nozzle, "reset",
                         [&](auto& driver) { driver.ResetDispenser(line, dispenser, nozzle, 0); });
}

ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_total(zarvik_station* station, int32_t line, int32_t dispenser,
                                                   int32_t nozzle, double* litres) {
    return OnNozzle(station, line, dispenser, nozzle, [&] {
        RequirePointer(litres, "litres");
        double total = 0.0;
        station->driver->ReadNozzleTotal(line, dispenser, nozzle, total, 0, 0, 0);
        const std::int32_t outcome = LineOutcome(*station, line, "total");
        if (outcome == ZARVIK_OK) *litres = total;
        return outcome;
    });
}

}  // extern "C"
