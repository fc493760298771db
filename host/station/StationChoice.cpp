#include "station/StationChoice.h"

namespace zarvik::host {
namespace {

std::string LineList(const StationFile& station) {
    std::string list;
    for (const auto& l : station.lines) list += (list.empty() ? "" : ", ") + std::to_string(l.line);
    return list;
}

}  // namespace

const StationLine& ChooseLine(const StationFile& station, std::optional<int> line) {
    if (!line) {
        if (station.lines.size() == 1) return station.lines.front();
        throw UsageError(station.source + " has lines " + LineList(station) + ": choose one with --line");
    }
    const StationLine* chosen = station.Find(*line);
    if (chosen == nullptr)
        throw UsageError("line " + std::to_string(*line) + " is not in " + station.source + " (it has " +
                         LineList(station) + ")");
    return *chosen;
}

StationFile StationOrLine(const StationFile& station, std::optional<int> line) {
    if (!line) return station;
    StationFile one = station;
    one.lines = {ChooseLine(station, line)};
    return one;
}

void CheckLineTarget(const StationFile& station, const StationLine& line, const LineTarget& target) {
    if (!target.dispenser) return;
    const StationDispenser* d = line.Find(*target.dispenser);
    const std::string where = " on line " + std::to_string(line.line) + " of " + station.source;
    if (d == nullptr) throw UsageError("dispenser " + std::to_string(*target.dispenser) + " is not" + where);
    const std::string has =
        "dispenser " + std::to_string(d->number) + where + " has " + std::to_string(d->nozzles) + " nozzle(s)";
    if (target.nozzles != nullptr) {
        if (!target.nozzlesGiven) *target.nozzles = d->nozzles;
        if (*target.nozzles > d->nozzles) throw UsageError(has);
    }
    if (target.nozzle && *target.nozzle > d->nozzles) throw UsageError(has);
}

StationFile CommandLineStation(int line, const std::string& device, int dispensers, int nozzles) {
    StationFile plan;
    plan.source = "the command line";
    StationLine one;
    one.line = line;
    one.device = device;
    for (int d = 1; d <= dispensers; ++d) one.dispensers.push_back({d, nozzles, {}, {}});
    plan.lines.push_back(std::move(one));
    return plan;
}

}  // namespace zarvik::host
