// A station for the telemetry tests: the publisher over a journal of its
// own, a fake price setter that prints each price it is given ("price L D N P"),
// fixed totals and one line. With --sales N it ends a sale in the journal
// every --every-ms until the journal holds N (a restarted run goes on where
// the killed one stopped), printing "sale ID". Runs until SIGTERM or SIGINT.
//
//   telemetry_station --service '{"telemetry": {...}}' --journal FILE [--sales N --every-ms MS]
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "journal/Journal.h"
#include "service/TransactionRoutes.h"
#include "telemetry/Telemetry.h"

namespace {

using namespace zarvik;

volatile std::sig_atomic_t stopped = 0;

struct PrintedPrices final : telemetry::PriceSetter {
    bool SetPrice(int line, int dispenser, int nozzle, double price) override {
        std::cout << "price " << line << ' ' << dispenser << ' ' << nozzle << ' ' << price << std::endl;
        return true;
    }
};

// Sale K: line 1, dispenser 1 + K % 2, nozzle 1, K × 0.5 litres at 50.
void EndSale(journal::Journal& journal, int k) {
    const auto now = std::chrono::system_clock::now();
    const double litres = k * 0.5;
    const journal::SaleId id =
        journal.Begin({{1, 1 + k % 2, 1}, {journal::PresetKind::Litres, litres}, 50.0, 1000.0 + k, now});
    journal.MarkSent(id, now);
    journal.Finish(id, {litres, litres * 50.0, 1000.0 + k + litres, false, now});
    std::cout << "sale " << id << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    std::string service, journalPath;
    int sales = 0, everyMs = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--service")
            service = argv[i + 1];
        else if (key == "--journal")
            journalPath = argv[i + 1];
        else if (key == "--sales")
            sales = std::stoi(argv[i + 1]);
        else if (key == "--every-ms")
            everyMs = std::stoi(argv[i + 1]);
    }
    std::signal(SIGTERM, [](int) { stopped = 1; });
    std::signal(SIGINT, [](int) { stopped = 1; });
    try {
        auto settings = telemetry::ParseTelemetrySettings(service, "--service");
        if (!settings) throw std::runtime_error("no telemetry section");
        journal::Journal journal = journal::Journal::Open(journalPath);
        PrintedPrices prices;
        telemetry::Telemetry station(
            *settings, &journal, prices, [] { return std::string(R"({"nozzles": [{"line": 1, "total": 1234.5}]})"); },
            [] {
                return std::vector<telemetry::LineReport>{{1, "good", R"({"line": 1, "health": "good"})"}};
            },
            service::TransactionText, [](int, std::string_view message) { std::cerr << message << std::endl; });
        station.Start();
        station.PumpChanged(1, 1,
                            R"({"line": 1, "dispenser": 1, "name": "ТРК 1", "live": true, "state": {"text": "idle"},)"
                            R"( "nozzle": 0, "nozzles": [{"nozzle": 1, "name": "АИ-95"}]})");
        int made = static_cast<int>(journal.List({.limit = 1000000}).size());
        while (!stopped) {
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            if (made < sales) {
                EndSale(journal, ++made);
                station.SaleEnded();
            }
        }
        station.Stop();
        const auto counts = station.Counts();
        std::cerr << "sent " << counts.salesSent << " marked " << counts.salesMarked << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "telemetry_station: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
