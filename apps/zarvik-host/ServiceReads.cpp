#include "ServiceReads.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "Output.h"
#include "StatusReport.h"
#include "TablesReport.h"
#include "TotalsReport.h"
#include "hostkit/VisibleText.h"

namespace zarvik::host {

namespace {

using Doc = nlohmann::json;  // the service's documents (what is printed is Output.h's json)

std::string Route(const std::string& path) { return "/api/v1/" + path; }

// A text value or "" for a missing or null key.
std::string TextOr(const Doc& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? std::string() : it->get<std::string>();
}

// The numbered entry of an array ("nozzle": k), or null.
const Doc* Numbered(const Doc& items, const char* key, int number) {
    for (const Doc& item : items)
        if (item.at(key).get<int>() == number) return &item;
    return nullptr;
}

// A pump whose latest poll failed has no live state: never shown as live.
void NeedLive(const Doc& pump, int line, int dispenser) {
    if (pump.at("live").get<bool>()) return;
    std::string cause = "no live state";
    if (const Doc& fault = pump.at("fault"); fault.is_object())
        cause = VisibleText(fault.at("cause").get<std::string>()) + " (at " + fault.at("at").get<std::string>() + ")";
    const std::string age =
        pump.at("polledAt").is_null() ? "never polled" : "last good poll at " + pump.at("polledAt").get<std::string>();
    throw HostError(kExitExchangeFailed, "service: line " + std::to_string(line) + " dispenser " +
                                             std::to_string(dispenser) + ": " + cause + "; " + age);
}

DispenserStatusView StatusView(const Doc& pump, int line, int dispenser, int nozzles) {
    NeedLive(pump, line, dispenser);
    DispenserStatusView view{
        line, dispenser, pump.at("state").at("code").get<std::uint8_t>(), pump.at("nozzle").get<int>(), {}};
    for (int k = 1; k <= nozzles; ++k) {
        const Doc* n = Numbered(pump.at("nozzles"), "nozzle", k);
        if (n == nullptr || n->at("state").is_null() || n->at("volume").is_null() || n->at("money").is_null()) {
            view.nozzles.push_back(std::nullopt);
            continue;
        }
        view.nozzles.push_back(NozzleValues{n->at("state").at("code").get<std::uint8_t>(),
                                            n->at("volume").get<double>(), n->at("money").get<double>()});
    }
    return view;
}

// The service's dispensers: their nozzles numbered 1..N in order.
StationDispenser DispenserOf(const Doc& d) {
    StationDispenser dispenser{d.at("number").get<int>(), 0, TextOr(d, "name"), {}};
    bool named = false;
    for (const Doc& n : d.at("nozzles")) {
        if (n.at("number").get<int>() != ++dispenser.nozzles)
            throw Doc::other_error::create(501, "nozzles not numbered 1..N", &n);
        dispenser.nozzleNames.push_back(TextOr(n, "name"));
        named = named || !dispenser.nozzleNames.back().empty();
    }
    if (!named) dispenser.nozzleNames.clear();
    return dispenser;
}

// The lines the service reports, or only the one asked for.
std::vector<const Doc*> LinesOf(const Doc& doc, std::optional<int> onlyLine) {
    std::vector<const Doc*> lines;
    for (const Doc& l : doc.at("lines"))
        if (!onlyLine || l.at("line").get<int>() == *onlyLine) lines.push_back(&l);
    if (onlyLine && lines.empty())
        throw UsageError("--line " + std::to_string(*onlyLine) + ": not one of the service's lines");
    return lines;
}

StationFile StationOf(const Doc& doc, const std::vector<const Doc*>& lines) {
    StationFile station;
    station.source = "service";
    station.name = TextOr(doc, "station");
    for (const Doc* l : lines) {
        StationLine line{l->at("line").get<int>(), l->at("device").get<std::string>(), TextOr(*l, "name"), {}, {}};
        for (const Doc& d : l->at("dispensers")) line.dispensers.push_back(DispenserOf(d));
        station.lines.push_back(std::move(line));
    }
    return station;
}

// The totals in the service's order (the station built from the same
// lines); the worst failure's exit code to `code`.
std::vector<NozzleTotal> TotalsOf(const StationFile& station, const std::vector<const Doc*>& lines, ExitCode& code) {
    std::vector<NozzleTotal> totals;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const StationLine& line = station.lines[i];
        for (std::size_t j = 0; j < line.dispensers.size(); ++j) {
            const StationDispenser& d = line.dispensers[j];
            const Doc& nozzles = lines[i]->at("dispensers").at(j).at("nozzles");
            for (int k = 1; k <= d.nozzles; ++k) {
                const Doc& n = nozzles.at(static_cast<std::size_t>(k - 1));
                NozzleTotal t{&line, &d, k, std::nullopt, {}};
                if (n.at("total").is_null()) {
                    t.error = VisibleText(n.at("error").get<std::string>());
                    // The service words a refusal as the line does: "line result N (meaning)".
                    code = Worse(code, t.error.starts_with("line result ") ? kExitNotGood : kExitExchangeFailed);
                } else {
                    t.total = n.at("total").get<double>();
                }
                totals.push_back(std::move(t));
            }
        }
    }
    return totals;
}

}  // namespace

int StatusThroughService(const Invocation& in, const ServiceClient& service) {
    const int line = in.cli.session.line, dispenser = in.cli.args.dispenser;
    const std::string route = Route("pumps/" + std::to_string(line) + "/" + std::to_string(dispenser));
    const Doc pump = service.Get(route);
    const DispenserStatusView view = serviceclient::ReadDocument(route, [&] {
        const int nozzles =
            in.command.count("--nozzles") > 0 ? in.cli.args.nozzles : static_cast<int>(pump.at("nozzles").size());
        return StatusView(pump, line, dispenser, nozzles);
    });
    if (in.cli.args.json) {
        json doc = StatusJson(view);
        doc["lineResult"] = {{"code", 1}, {"meaning", LineResultMeaning(1)}};
        PrintDocument(doc);
    } else {
        PrintStatus(view);
    }
    return kExitOk;
}

int TotalsThroughService(const Invocation& in, const ServiceClient& service) {
    if (in.command.count("--dispensers") + in.command.count("--nozzles") > 0)
        throw UsageError("totals with --service: the service's station names the dispensers and their nozzles");
    const OutputFormat format = ChooseFormat(in.cli.args.json, in.cli.csv);
    const std::string route = Route("totals");
    const Doc doc = service.Get(route);
    ExitCode code = kExitOk;
    StationFile station;
    std::vector<NozzleTotal> totals;
    std::string time;
    serviceclient::ReadDocument(route, [&] {
        const std::vector<const Doc*> lines = LinesOf(doc, in.Line());
        station = StationOf(doc, lines);
        totals = TotalsOf(station, lines, code);
        time = VisibleText(doc.at("time").get<std::string>());
    });
    PrintTotals(station, totals, time, format);
    return code;
}

namespace {

LineCounters CountersOf(const Doc& line) {
    const auto count = [&](const char* key) { return line.at(key).get<std::uint64_t>(); };
    return {count("exchanges"), count("good"),         count("bad"),
            count("timeouts"),  count("deviceErrors"), count("reopens")};
}

// What the service keeps of a line beside the counters.
void PrintLineHealth(const Doc& line) {
    std::cout << "  echoes sequence " << VisibleText(line.at("sequenceEcho").get<std::string>()) << ", address "
              << VisibleText(line.at("addressEcho").get<std::string>()) << '\n'
              << "  health " << VisibleText(line.at("health").get<std::string>()) << ", poll cycles "
              << line.at("pollCycles").get<std::uint64_t>() << ", cycle " << line.at("cycleMs").get<double>()
              << " ms, last good exchange "
              << (line.at("lastGoodAt").is_null() ? "none" : VisibleText(line.at("lastGoodAt").get<std::string>()))
              << '\n';
    if (const Doc& fault = line.at("lastFault"); fault.is_object())
        std::cout << "  last fault at " << VisibleText(fault.at("at").get<std::string>()) << ": "
                  << VisibleText(fault.at("cause").get<std::string>()) << '\n';
}

json LineHealthJson(const Doc& line) {
    json statistics = CountersJson(CountersOf(line));
    statistics["sequenceEcho"] = line.at("sequenceEcho").get<std::string>();
    statistics["addressEcho"] = line.at("addressEcho").get<std::string>();
    return {{"line", line.at("line").get<int>()},
            {"health", line.at("health").get<std::string>()},
            {"pollCycles", line.at("pollCycles").get<std::uint64_t>()},
            {"cycleMs", line.at("cycleMs").get<double>()},
            {"lastGoodAt", line.at("lastGoodAt")},
            {"lastFault", line.at("lastFault")},
            {"statistics", std::move(statistics)}};
}

std::optional<FieldDescription> FieldOf(const Doc& f) {
    if (f.contains("error")) return std::nullopt;
    return FieldDescription{f.at("number").get<int>(),        f.at("name").get<std::string>(),
                            f.at("type").get<int>(),          f.at("size").get<int>(),
                            f.at("low").get<std::uint32_t>(), f.at("high").get<std::uint32_t>()};
}

}  // namespace

// The service polls its lines all the time: stats shows what it counted.
int StatsThroughService(const Invocation& in, const ServiceClient& service) {
    for (const char* option : {"--dispenser", "--nozzles", "--polls"})
        if (in.command.count(option) > 0)
            throw UsageError(std::string("stats with --service: ") + option +
                             " is not taken; the service's own polls of the line are counted");
    const int line = in.cli.session.line;
    const std::string route = Route("lines/" + std::to_string(line));
    const Doc doc = service.Get(route);
    const std::string health = serviceclient::ReadDocument(route, [&] {
        if (in.cli.args.json) {
            PrintDocument(LineHealthJson(doc));
        } else {
            PrintCounters(line, CountersOf(doc), std::cout);
            PrintLineHealth(doc);
        }
        return doc.at("health").get<std::string>();
    });
    return health == "good" ? kExitOk : kExitExchangeFailed;
}

int TablesThroughService(const Invocation& in, const ServiceClient& service) {
    const int address = in.cli.args.address;
    const std::string route =
        Route("lines/" + std::to_string(in.cli.session.line) + "/dispensers/" + std::to_string(address) + "/tables");
    const Doc doc = service.Get(route);
    json tables = json::array();
    bool complete = serviceclient::ReadDocument(route, [&] { return doc.at("complete").get<bool>(); });
    serviceclient::ReadDocument(route, [&] {
        for (const Doc& t : doc.at("tables")) {
            const TableDescription table{t.at("number").get<int>(), t.at("name").get<std::string>(),
                                         t.at("rows").get<int>(), static_cast<int>(t.at("fields").size())};
            if (!in.cli.args.json) PrintTableLine(table);
            json fields = json::array();
            for (const Doc& f : t.at("fields")) {
                const std::optional<FieldDescription> field = FieldOf(f);
                complete = complete && field.has_value();
                fields.push_back(FieldJson(f.at("number").get<int>(), field));
                if (!in.cli.args.json) PrintFieldLine(f.at("number").get<int>(), field);
            }
            tables.push_back(TableJson(table, std::move(fields)));
        }
    });
    complete = complete && !tables.empty();
    if (in.cli.args.json) PrintDocument({{"address", address}, {"complete", complete}, {"tables", std::move(tables)}});
    return complete ? kExitOk : kExitNotGood;
}

}  // namespace zarvik::host
