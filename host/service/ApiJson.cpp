#include "service/ApiJson.h"

#include <cmath>

#include "hostkit/IsoTime.h"
#include "hostkit/StateNames.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr int kDriverBaud = 9600;  // a line without its own rate runs at the driver's
constexpr double kHundredths = 100.0;

const char* KindWord(host::StateKind kind) {
    switch (kind) {
        case host::StateKind::Idle:
            return "idle";
        case host::StateKind::Authorised:
            return "authorised";
        case host::StateKind::NozzleUp:
            return "nozzleUp";
        case host::StateKind::Delivering:
            return "delivering";
        case host::StateKind::Finished:
            return "finished";
        case host::StateKind::Unknown:
            break;
    }
    return "unknown";
}

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json FaultJson(const std::optional<Fault>& fault) {
    if (!fault) return nullptr;
    return {{"cause", fault->cause}, {"at", TimeText(fault->at)}};
}

json NozzlesJson(const host::StationDispenser& d, const std::optional<PumpReading>& reading) {
    json nozzles = json::array();
    for (int k = 1; k <= d.nozzles && k <= kMaxNozzles; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        json n{{"nozzle", k},
               {"name", d.nozzleNames.empty() ? json(nullptr) : json(d.nozzleNames[i])},
               {"state", nullptr},
               {"volume", nullptr},
               {"money", nullptr}};
        if (reading) {
            n["state"] = StateJson(reading->nozzleStates[i]);
            if (const auto& v = reading->values[i]) {
                n["volume"] = v->litres;
                n["money"] = v->money;
            }
        }
        nozzles.push_back(std::move(n));
    }
    return nozzles;
}

}  // namespace

http::Response JsonResponse(const json& document) {
    http::Response r;
    // Text from the station file or a device that is not UTF-8 is shown replaced, never refused.
    r.body = document.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

std::string TimeText(WallTime time) { return host::IsoTime(time, true); }

json StateJson(std::uint8_t code) {
    const host::StateName name = host::NameDispenserState(code);
    return {{"code", code}, {"kind", KindWord(name.kind)}, {"text", name.text}, {"russian", name.russian}};
}

json PumpJson(const host::StationLine& line, const host::StationDispenser& d, const PumpRecord& record, WallTime now) {
    json pump{{"line", line.line},
              {"dispenser", d.number},
              {"name", TextOrNull(d.name)},
              {"live", record.live},
              {"state", nullptr},
              {"nozzle", 0},
              {"volume", nullptr},
              {"money", nullptr},
              {"price", nullptr},
              {"priceSource", nullptr},
              {"polledAt", nullptr},
              {"ageMs", nullptr},
              {"fault", record.live ? json(nullptr) : FaultJson(record.fault)}};
    const std::optional<PumpReading>& shown = record.lastGood;
    pump["nozzles"] = NozzlesJson(d, shown);
    if (!shown) return pump;
    pump["state"] = StateJson(shown->state);
    pump["nozzle"] = shown->nozzle;
    pump["polledAt"] = TimeText(shown->at);
    pump["ageMs"] =
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(now - shown->at).count());
    if (shown->nozzle < 1 || shown->nozzle > d.nozzles || shown->nozzle > kMaxNozzles) return pump;
    const auto& values = shown->values[static_cast<std::size_t>(shown->nozzle - 1)];
    if (!values) return pump;
    pump["volume"] = values->litres;
    pump["money"] = values->money;
    if (values->litres > 0.0) {
        // Prices are whole hundredths: the quotient of rounded values is shown as one.
        pump["price"] = std::round(values->money / values->litres * kHundredths) / kHundredths;
        pump["priceSource"] = "derived";
    }
    return pump;
}

json LineJson(const host::StationLine& line, const LineRecord& r) {
    const port::LineStatistics& s = r.statistics;
    return {{"line", line.line},
            {"device", line.device},
            {"name", TextOrNull(line.name)},
            {"health", HealthName(r.health)},
            {"open", r.open},
            {"exchanges", s.exchanges},
            {"good", s.good},
            {"bad", s.bad},
            {"timeouts", s.timeouts},
            {"deviceErrors", s.deviceErrors},
            {"reopens", s.reopens},
            {"sequenceEcho", port::LearntName(s.sequenceEcho)},
            {"addressEcho", port::LearntName(s.addressEcho)},
            {"lastGoodAt", r.lastGoodAt ? json(TimeText(*r.lastGoodAt)) : json(nullptr)},
            {"lastFault", FaultJson(r.lastFault)},
            {"pollCycles", r.pollCycles},
            {"cycleMs", r.cycleMs}};
}

json StationJson(const host::StationFile& station) {
    json lines = json::array();
    for (const host::StationLine& l : station.lines) {
        json dispensers = json::array();
        for (const host::StationDispenser& d : l.dispensers)
            dispensers.push_back({{"number", d.number},
                                  {"nozzles", d.nozzles},
                                  {"name", TextOrNull(d.name)},
                                  {"nozzleNames", d.nozzleNames}});
        const port::LineSettings& s = l.settings;
        lines.push_back({{"line", l.line},
                         {"device", l.device},
                         {"name", TextOrNull(l.name)},
                         {"baud", s.baud > 0 ? s.baud : kDriverBaud},
                         {"timeouts",
                          {{"responseMs", s.response.count()},
                           {"interByteMs", s.interByte.count()},
                           {"drainQuietMs", s.drainQuiet.count()}}},
                         {"dispensers", std::move(dispensers)}});
    }
    return {{"name", TextOrNull(station.name)}, {"lines", std::move(lines)}};
}

}  // namespace zarvik::service
