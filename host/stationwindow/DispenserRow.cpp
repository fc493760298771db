#include "stationwindow/DispenserRow.h"

#include "hostkit/StateNames.h"

namespace zarvik::host {

void DispenserRow::Apply(const DispenserReading& reading) {
    if (reading.failure == ReadingFailure::None) {
        lastGood_ = reading;
        failure_.reset();
        return;
    }
    const bool delivering =
        lastGood_ && !failure_ && NameDispenserState(lastGood_->state).kind == StateKind::Delivering;
    if (delivering && !lost_)
        lost_ = LostDelivery{lastGood_->nozzle, lastGood_->hasValues, lastGood_->litres,
                             lastGood_->money,  lastGood_->time,      reading.time};
    failure_ = reading;
}

bool DispenserRow::Stale(std::chrono::system_clock::time_point now, std::chrono::milliseconds limit) const {
    return !failure_ && lastGood_ && now - lastGood_->time > limit;
}

}  // namespace zarvik::host
