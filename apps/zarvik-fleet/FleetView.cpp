#include "FleetView.h"

#include <cstdio>
#include <vector>

namespace zarvik::fleet {
namespace {

using nlohmann::json;

std::vector<std::string> Levels(std::string_view topic) {
    std::vector<std::string> levels;
    std::size_t start = 0;
    for (std::size_t slash; (slash = topic.find('/', start)) != std::string_view::npos; start = slash + 1)
        levels.emplace_back(topic.substr(start, slash - start));
    levels.emplace_back(topic.substr(start));
    return levels;
}

std::string Text(const json& value, const char* fallback = "-") {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return value.dump();
    return fallback;
}

double Number(const json& object, const char* key) {
    return object.contains(key) && object.at(key).is_number() ? object.at(key).get<double>() : 0.0;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Pad(const std::string& text, std::size_t width) {
    // Cyrillic names: count characters, not bytes.
    std::size_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return text + std::string(characters < width ? width - characters : 1, ' ');
}

// A pump of a station that is not online is as it was last published: never shown live.
std::string Liveness(const std::string& status, const json& pump) {
    if (status != "online") return "stale: station " + status;
    return pump.value("live", false) ? "live" : "NOT LIVE";
}

}  // namespace

void FleetView::Take(std::string_view topic, std::string_view payload) {
    const auto levels = Levels(topic);
    const auto rootLevels = Levels(root_);
    // <root>/<station>/status | pumps/<line>/<dispenser> | transactions/<id>
    if (levels.size() < rootLevels.size() + 2 || !std::equal(rootLevels.begin(), rootLevels.end(), levels.begin())) {
        ++unreadable_;
        return;
    }
    const std::string station = root_ + "/" + levels[rootLevels.size()];
    const std::vector<std::string> rest(levels.begin() + static_cast<long>(rootLevels.size()) + 1, levels.end());
    Station& s = stations_[station];
    try {
        if (rest.size() == 1 && rest[0] == "status") {
            s.status = std::string(payload);
        } else if (rest.size() == 3 && rest[0] == "pumps") {
            s.pumps[{std::stoi(rest[1]), std::stoi(rest[2])}] = json::parse(payload);
        } else if (rest.size() == 2 && rest[0] == "transactions") {
            const json sale = json::parse(payload);
            s.sales[sale.at("id").get<long long>()] = sale;
        } else {
            ++unreadable_;
        }
    } catch (const std::exception&) {
        ++unreadable_;
    }
}

std::string FleetView::Grade(const Station& station, const json& sale) const {
    const int line = sale.value("line", 0);
    const int dispenser = sale.value("dispenser", 0);
    const int nozzle = sale.value("nozzle", 0);
    const auto pump = station.pumps.find({line, dispenser});
    if (pump != station.pumps.end() && pump->second.contains("nozzles") && pump->second.at("nozzles").is_array()) {
        for (const json& n : pump->second.at("nozzles"))
            if (n.value("nozzle", 0) == nozzle && n.contains("name") && n.at("name").is_string())
                return n.at("name").get<std::string>();
    }
    return std::to_string(line) + "/" + std::to_string(dispenser) + "/" + std::to_string(nozzle);
}

std::string FleetView::Render(const std::string& day) const {
    std::string out;
    for (const auto& [name, station] : stations_) {
        out += "Station " + name + ": " + station.status + "\n";
        for (const auto& [key, pump] : station.pumps) {
            const json state = pump.value("state", json(nullptr));
            out += "  pump " + Pad(std::to_string(key.first) + "/" + std::to_string(key.second), 6) +
                   Pad(Text(pump.value("name", json(nullptr)), ""), 10) +
                   Pad(state.is_object() ? Text(state.value("text", json(nullptr))) : "-", 14) + "nozzle " +
                   Pad(Text(pump.value("nozzle", json(nullptr))), 3) +
                   Pad(Text(pump.value("volume", json(nullptr))) + " l", 12) +
                   Pad(Text(pump.value("money", json(nullptr))), 10) + Liveness(station.status, pump) + "\n";
        }
        struct Sum {
            int sales = 0;
            double litres = 0.0, money = 0.0;
        };
        std::map<std::string, Sum> grades;
        for (const auto& [id, sale] : station.sales) {
            const std::string ended = Text(sale.value("endedAt", json(nullptr)), "");
            if (ended.compare(0, day.size(), day) != 0) continue;
            Sum& sum = grades[Grade(station, sale)];
            ++sum.sales;
            sum.litres += Number(sale, "litres");
            sum.money += Number(sale, "money");
        }
        out += "  sales on " + day + (grades.empty() ? ": none\n" : ":\n");
        for (const auto& [grade, sum] : grades)
            out += "    " + Pad(grade, 12) + Pad(std::to_string(sum.sales) + " sales", 12) +
                   Pad(Fixed(sum.litres, 3) + " l", 14) + Fixed(sum.money, 2) + "\n";
    }
    if (stations_.empty()) out += "no station has published anything\n";
    return out;
}

}  // namespace zarvik::fleet
