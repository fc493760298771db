#include "service/ApiJson.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "hostkit/IsoTime.h"
#include "hostkit/StateNames.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr int kDriverBaud = 9600;  // a line without its own rate runs at the driver's
constexpr double kHundredths = 100.0;
constexpr std::size_t kStateCodes = 256;
constexpr std::size_t kMicrosecondDigits = 6;

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

// {"code", "kind", "text", "russian"} of every state code, made once.
const std::string& StateText(std::uint8_t code) {
    static const std::array<std::string, kStateCodes> texts = [] {
        std::array<std::string, kStateCodes> made;
        for (std::size_t c = 0; c < kStateCodes; ++c) {
            const host::StateName name = host::NameDispenserState(static_cast<std::uint8_t>(c));
            JsonText text;
            text.Open().Key("code").Unsigned(c).Key("kind").String(KindWord(name.kind));
            text.Key("text").String(name.text).Key("russian").String(name.russian).Close();
            made[c] = text.Take();
        }
        return made;
    }();
    return texts[code];
}

void WriteFault(JsonText& out, TimeTexts& times, const Fault* fault) {
    if (fault == nullptr) {
        out.Null();
        return;
    }
    out.Open().Key("cause").String(fault->cause).Key("at").String(times(fault->at)).Close();
}

void WriteNumber(JsonText& out, const std::optional<double>& number) { number ? out.Number(*number) : out.Null(); }

void WriteNozzles(JsonText& out, const host::StationDispenser& d, const PumpRecord& record) {
    const std::optional<PumpReading>& reading = record.lastGood;
    out.OpenArray();
    for (int k = 1; k <= d.nozzles && k <= kMaxNozzles; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        out.Open().Key("nozzle").Integer(k).Key("name");
        d.nozzleNames.empty() ? out.Null() : out.String(d.nozzleNames[i]);
        out.Key("state");
        reading ? out.Raw(StateText(reading->nozzleStates[i])) : out.Null();
        const auto* values = reading && reading->values[i] ? &*reading->values[i] : nullptr;
        out.Key("volume");
        values ? out.Number(values->litres) : out.Null();
        out.Key("money");
        values ? out.Number(values->money) : out.Null();
        out.Key("price");
        WriteNumber(out, record.price[i]);
        out.Key("pendingPrice");
        WriteNumber(out, record.pendingPrice[i]);
        out.Close();
    }
    out.CloseArray();
}

// The values of the nozzle the poll named, if it named one of this pump's and it was read.
const PumpReading::Values* ShownValues(const host::StationDispenser& d, const std::optional<PumpReading>& shown) {
    if (!shown || shown->nozzle < 1 || shown->nozzle > d.nozzles || shown->nozzle > kMaxNozzles) return nullptr;
    const auto& values = shown->values[static_cast<std::size_t>(shown->nozzle - 1)];
    return values ? &*values : nullptr;
}

}  // namespace

json StateJson(std::uint8_t code) { return json::parse(StateText(code)); }

http::Response JsonResponse(const json& document) {
    http::Response r;
    // Text from the station file or a device that is not UTF-8 is shown replaced, never refused.
    r.body = document.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

http::Response TextResponse(std::string document) {
    http::Response r;
    r.body = std::move(document);
    return r;
}

std::string TimeText(WallTime time) { return host::IsoTime(time, true); }

std::string_view TimeTexts::operator()(WallTime time) {
    const auto second = std::chrono::floor<std::chrono::seconds>(time);
    auto kept = std::find_if(seconds_.begin(), seconds_.end(), [&](const Second& s) { return s.second == second; });
    if (kept == seconds_.end()) {
        kept = seconds_.begin() + static_cast<std::ptrdiff_t>(next_);
        next_ = (next_ + 1) % seconds_.size();
        kept->second = second;
        kept->text = TimeText(time);
        kept->fraction = kept->text.find('.') + 1;
        return kept->text;
    }
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time - second).count();
    for (std::size_t i = kept->fraction + kMicrosecondDigits; i-- > kept->fraction; micros /= 10)
        kept->text[i] = static_cast<char>('0' + micros % 10);
    return kept->text;
}

void WritePump(JsonText& out, TimeTexts& times, const host::StationLine& line, const host::StationDispenser& d,
               const PumpRecord& record, WallTime now) {
    // The last good poll's values, also while the latest failed; never a failed poll's.
    const std::optional<PumpReading>& shown = record.lastGood;
    const PumpReading::Values* values = ShownValues(d, shown);
    out.Open().Key("line").Integer(line.line).Key("dispenser").Integer(d.number).Key("name");
    d.name.empty() ? out.Null() : out.String(d.name);
    out.Key("live").Bool(record.live).Key("state");
    shown ? out.Raw(StateText(shown->state)) : out.Null();
    out.Key("nozzle").Integer(shown ? shown->nozzle : 0);
    out.Key("volume");
    values ? out.Number(values->litres) : out.Null();
    out.Key("money");
    values ? out.Number(values->money) : out.Null();
    // The shown nozzle's price as the service set it, else as its delivery gives it.
    const int n = shown ? shown->nozzle : 0;
    const auto shownIndex = static_cast<std::size_t>(n - 1);
    const bool set = n >= 1 && n <= kMaxNozzles && record.price[shownIndex];
    if (set) {
        out.Key("price").Number(*record.price[shownIndex]).Key("priceSource").String("set");
    } else if (values && values->litres > 0.0) {
        // Prices are whole hundredths: the quotient of rounded values is shown as one.
        out.Key("price").Number(std::round(values->money / values->litres * kHundredths) / kHundredths);
        out.Key("priceSource").String("derived");
    } else {
        out.Key("price").Null().Key("priceSource").Null();
    }
    out.Key("polledAt");
    shown ? out.String(times(shown->at)) : out.Null();
    out.Key("ageMs");
    shown ? out.Integer(std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(now - shown->at).count()))
          : out.Null();
    out.Key("fault");
    WriteFault(out, times, !record.live && record.fault ? &*record.fault : nullptr);
    out.Key("pendingPrice");
    WriteNumber(out, n >= 1 && n <= kMaxNozzles ? record.pendingPrice[shownIndex] : std::nullopt);
    out.Key("nozzles");
    WriteNozzles(out, d, record);
    out.Close();
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
