// The routes of Api.h that read the state or go through a line's worker.
#include <algorithm>
#include <future>
#include <limits>
#include <vector>

#include "service/Api.h"
#include "service/ApiJson.h"
#include "service/LineJobs.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr std::int64_t kMaxNumber = 32;  // lines and dispensers
constexpr std::int64_t kMaxBusAddress = 16;
constexpr std::size_t kPumpTextBytes = 1024;  // a pump of 3 nozzles is some 900 bytes

const host::StationLine* FindLine(const host::StationFile& station, std::int64_t line) {
    return line >= 1 && line <= kMaxNumber ? station.Find(static_cast<int>(line)) : nullptr;
}

const host::StationDispenser* FindDispenser(const host::StationLine* line, std::int64_t dispenser) {
    return line != nullptr && dispenser >= 1 && dispenser <= kMaxNumber ? line->Find(static_cast<int>(dispenser))
                                                                        : nullptr;
}

http::Response UnknownPump(std::int64_t line, std::int64_t dispenser) {
    return http::ErrorResponse(404, "unknown_pump",
                               "no dispenser " + std::to_string(dispenser) + " on line " + std::to_string(line));
}

http::Response UnknownLine(std::int64_t line) {
    return http::ErrorResponse(404, "unknown_line", "no line " + std::to_string(line));
}

// A line's entry when its worker did not answer: every nozzle unread, with the cause.
json UnreadTotals(const host::StationLine& line, std::optional<int> dispenser, const std::string& cause) {
    return LineTotalsEntry(line, dispenser, [&cause](json& n, const host::StationDispenser&, int) {
        n["total"] = nullptr;
        n["error"] = cause;
    });
}

bool Complete(const json& line) {
    for (const json& d : line["dispensers"])
        for (const json& n : d["nozzles"])
            if (n["total"].is_null()) return false;
    return true;
}

}  // namespace

http::Response Api::Pumps() const {
    const WallTime now = now_();
    const std::vector<PumpEntry> pumps = state_.Pumps();
    const auto before = [](const PumpEntry& e, std::pair<int, int> key) {
        return std::pair(e.line, e.dispenser) < key;
    };
    JsonText out;
    TimeTexts times;
    out.Reserve(kPumpTextBytes * (pumps.size() + 1));
    out.Open().Key("time").String(TimeText(now)).Key("pumps").OpenArray();
    for (const host::StationLine& line : station_.lines)
        for (const host::StationDispenser& d : line.dispensers) {
            const auto e = std::lower_bound(pumps.begin(), pumps.end(), std::pair(line.line, d.number), before);
            if (e != pumps.end() && e->line == line.line && e->dispenser == d.number)
                WritePump(out, times, line, d, e->record, now);
        }
    out.CloseArray().Close();
    return TextResponse(out.Take());
}

http::Response Api::OnePump(const Route& route) const {
    const host::StationLine* line = FindLine(station_, route.numbers[0]);
    const host::StationDispenser* d = FindDispenser(line, route.numbers[1]);
    const auto record = d != nullptr ? state_.Pump(line->line, d->number) : std::nullopt;
    if (!record) return UnknownPump(route.numbers[0], route.numbers[1]);
    JsonText out;
    TimeTexts times;
    WritePump(out, times, *line, *d, *record, now_());
    return TextResponse(out.Take());
}

// Lines are read at once, each through its own worker.
http::Response Api::Totals(const Route& route) const {
    std::vector<const host::StationLine*> lines;
    std::optional<int> dispenser;
    if (route.numbers.empty()) {
        for (const host::StationLine& l : station_.lines) lines.push_back(&l);
    } else {
        const host::StationLine* line = FindLine(station_, route.numbers[0]);
        const host::StationDispenser* d = FindDispenser(line, route.numbers[1]);
        if (d == nullptr) return UnknownPump(route.numbers[0], route.numbers[1]);
        lines.push_back(line);
        dispenser = d->number;
    }
    const std::string time = TimeText(now_());
    std::vector<std::future<json>> reads;
    for (const host::StationLine* l : lines)
        reads.push_back(std::async(std::launch::async, [this, l, dispenser] {
            try {
                return reads_.Totals(*l, dispenser);
            } catch (const std::exception& e) {
                return UnreadTotals(*l, dispenser, e.what());
            }
        }));
    json out = json::array();
    bool complete = true;
    for (auto& read : reads) {
        out.push_back(read.get());
        complete = complete && Complete(out.back());
    }
    json doc{{"time", time}, {"complete", complete}, {"lines", std::move(out)}};
    if (!station_.name.empty()) doc["station"] = station_.name;
    return JsonResponse(doc);
}

http::Response Api::Lines(const Route& route) const {
    if (!route.numbers.empty()) {
        const host::StationLine* line = FindLine(station_, route.numbers[0]);
        const auto record = line != nullptr ? state_.Line(line->line) : std::nullopt;
        if (!record) return UnknownLine(route.numbers[0]);
        return JsonResponse(LineJson(*line, *record));
    }
    json lines = json::array();
    for (const host::StationLine& line : station_.lines)
        if (const auto record = state_.Line(line.line)) lines.push_back(LineJson(line, *record));
    return JsonResponse({{"time", TimeText(now_())}, {"lines", std::move(lines)}});
}

namespace {

// The line and a bus address that serves one of its dispensers (1 and 2 are
// address 1, 3 and 4 address 2, ...).
std::optional<http::Response> CheckAddress(const host::StationFile& station, std::int64_t line, std::int64_t address) {
    const host::StationLine* l = FindLine(station, line);
    if (l == nullptr) return UnknownLine(line);
    if (address >= 1 && address <= kMaxBusAddress)
        for (const host::StationDispenser& d : l->dispensers)
            if ((d.number + 1) / 2 == address) return std::nullopt;
    return http::ErrorResponse(
        404, "unknown_pump",
        "no dispenser at bus address " + std::to_string(address) + " on line " + std::to_string(line));
}

}  // namespace

http::Response Api::Tables(const Route& route) const {
    if (auto refused = CheckAddress(station_, route.numbers[0], route.numbers[1])) return *refused;
    return JsonResponse(reads_.Tables(static_cast<int>(route.numbers[0]), static_cast<int>(route.numbers[1])));
}

http::Response Api::Parameter(const Route& route) const {
    if (auto refused = CheckAddress(station_, route.numbers[0], route.numbers[1])) return *refused;
    if (route.numbers[2] > std::numeric_limits<std::int32_t>::max())
        return http::ErrorResponse(400, "bad_request", "a parameter code is at most 2147483647");
    const auto line = static_cast<int>(route.numbers[0]);
    const auto address = static_cast<int>(route.numbers[1]);
    const auto code = static_cast<std::int32_t>(route.numbers[2]);
    const std::int32_t value = reads_.Parameter(line, address, code);
    return JsonResponse({{"line", line}, {"address", address}, {"code", code}, {"value", value}});
}

}  // namespace zarvik::service
