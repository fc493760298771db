// The control jobs a line's worker runs (Control.h): each command through the
// driver, the line result read after every one, the recorder told before it
// is sent and after its answer.
#pragma once

#include <vector>

#include "service/Control.h"
#include "service/LineWorker.h"
#include "station/StationFile.h"

namespace zarvik::service {

// Price, dose, start; then a poll of the dispenser for the state the answer
// shows. Throws Refused or LineFailure at the first command not accepted.
json AuthoriseSale(LineContext& context, const Authorisation& sale, SaleRecorder& recorder);

// The nozzles of the dispenser a stop is for: those authorised, lifted or
// delivering in its latest poll; every nozzle when that poll failed or
// there was none.
std::vector<int> ActiveNozzles(const LineContext& context, const host::StationDispenser& dispenser);

// Sends the stop command to each nozzle; one entry {"line", "dispenser",
// "nozzle", "result": "stopped"|"refused"|"failed", "cause"?} a nozzle.
// Never throws for a nozzle that failed.
json StopNozzles(LineContext& context, int dispenser, const std::vector<int>& nozzles, SaleRecorder& recorder);

// Sets the nozzle's price when the nozzle is idle in its latest good poll
// (or there is none to say otherwise); else holds it until it is idle:
// {"line", "dispenser", "nozzle", "price", "pending"}.
json SetPrice(LineContext& context, int dispenser, int nozzle, double price);

// After a good poll: sends each price held for a nozzle that is now idle. One
// the dispenser does not accept stays held and is tried after the next poll.
void ApplyPendingPrices(LineContext& context, const host::StationDispenser& dispenser);

}  // namespace zarvik::service
