#include "sim/Console.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace zarvik::sim {

std::string RunConsoleCommand(Station& station, std::string_view command, TimePoint now) {
    std::istringstream in{std::string(command)};
    std::string verb;
    int dispenser = 0;
    int nozzle = 0;
    if (!(in >> verb)) return "error: empty command";
    if (verb != "deliver" && verb != "lift" && verb != "hang" && verb != "show")
        return "error: unknown command (deliver D N LITRES, lift D N, hang D N, show D N)";
    double litres = 0.0;
    if (!(in >> dispenser >> nozzle) || (verb == "deliver" && !(in >> litres)) || !(in >> std::ws).eof())
        return "error: " + verb + (verb == "deliver" ? " takes D N LITRES" : " takes D N");
    if (verb == "deliver" && !(litres > 0.0)) return "error: litres must be more than 0";
    try {
        const NozzleView view = station.Nozzle(dispenser, nozzle);  // throws for one the station does not have
        if (verb == "show") {
            char text[160];
            std::snprintf(text, sizeof text, "ok status %u volume %.3f money %.2f total %.3f", view.status,
                          view.volume / 1000.0, view.money / 100.0, view.total / 1000.0);
            return text;
        }
        if (verb == "lift") {
            station.LiftNozzle(dispenser, nozzle, now);
        } else if (verb == "hang") {
            station.HangUpNozzle(dispenser, nozzle, now);
        } else if (!station.StartDelivery(dispenser, nozzle, litres, now)) {
            return "error: the dispenser refused the start";
        }
    } catch (const std::out_of_range& e) {
        return std::string("error: ") + e.what();
    }
    return "ok";
}

}  // namespace zarvik::sim
