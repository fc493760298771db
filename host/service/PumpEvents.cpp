#include "service/PumpEvents.h"

#include "service/ApiJson.h"

namespace zarvik::service {

StationState::PumpChanged PumpEventPublisher(const host::StationFile& station, EventBus& bus,
                                             std::function<WallTime()> now) {
    return [&station, &bus, now = std::move(now)](int line, int dispenser, const PumpRecord& record) {
        for (const host::StationLine& l : station.lines) {
            if (l.line != line) continue;
            for (const host::StationDispenser& d : l.dispensers) {
                if (d.number != dispenser) continue;
                bus.Publish([&](std::uint64_t seq) {
                    const WallTime at = now();
                    JsonText out;
                    TimeTexts times;
                    out.Open().Key("seq").Integer(static_cast<std::int64_t>(seq)).Key("type").String("pump");
                    out.Key("at").String(times(at)).Key("pump");
                    WritePump(out, times, l, d, record, at);
                    out.Close();
                    return out.Take();
                });
                return;
            }
        }
    };
}

std::string ResetEventText(std::uint64_t seq) {
    JsonText out;
    out.Open().Key("seq").Integer(static_cast<std::int64_t>(seq)).Key("type").String("reset").Close();
    return out.Take();
}

}  // namespace zarvik::service
