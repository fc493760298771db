// Pump events: each change StationState reports becomes the event
//   {"seq": N, "type": "pump", "at": TIME, "pump": <the pump's document>}
// on the bus (the document as GET /api/v1/pumps/{line}/{dispenser} has it).
#pragma once

#include "service/EventBus.h"
#include "service/StationState.h"
#include "station/StationFile.h"

namespace zarvik::service {

// STATION and BUS outlive the observer; NOW gives the event's time.
StationState::PumpChanged PumpEventPublisher(const host::StationFile& station, EventBus& bus,
                                             std::function<WallTime()> now);

// The event {"seq": SEQ, "type": "reset"}: the client missed some and re-reads.
std::string ResetEventText(std::uint64_t seq);

}  // namespace zarvik::service
