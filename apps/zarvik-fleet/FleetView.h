// Head office's view of its stations from their telemetry: every station's
// status and pumps (the latest retained documents) and the day's sales per
// station and grade, each sale counted once however often it arrived.
//
// A grade is the nozzle's name from the pump document when it has one, else
// "line/dispenser/nozzle". The day is the date of the sale's end in the
// station's own time ("endedAt"). The pumps of a station that is not online
// are shown stale, never live.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>

namespace zarvik::fleet {

class FleetView {
public:
    explicit FleetView(std::string root) : root_(std::move(root)) {}

    // One message from the broker; anything not understood is counted and left out.
    void Take(std::string_view topic, std::string_view payload);
    // The view as text for DAY ("2026-12-09").
    std::string Render(const std::string& day) const;
    int Unreadable() const { return unreadable_; }
    const std::string& Root() const { return root_; }

private:
    struct Station {
        std::string status = "unknown";
        std::map<std::pair<int, int>, nlohmann::json> pumps;
        std::map<long long, nlohmann::json> sales;  // by id: repeats dropped
    };
    std::string Grade(const Station& station, const nlohmann::json& sale) const;

    std::string root_;
    std::map<std::string, Station> stations_;
    int unreadable_ = 0;
};

}  // namespace zarvik::fleet
