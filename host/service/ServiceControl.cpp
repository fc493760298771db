// Service's PumpControl: each call a job on the line's worker; stops urgent.
#include <future>

#include "service/ControlJobs.h"
#include "service/LineJobs.h"
#include "service/Service.h"

namespace zarvik::service {

namespace {

constexpr auto kAuthoriseTimeout = std::chrono::seconds(5);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPriceTimeout = std::chrono::seconds(5);

json StopResult(json stopped) {
    bool complete = true;
    for (const json& s : stopped) complete = complete && s["result"] == "stopped";
    return {{"stopped", std::move(stopped)}, {"complete", complete}};
}

}  // namespace

json Service::Authorise(const Authorisation& sale) {
    SaleRecorder& recorder = *recorder_;
    const std::uint64_t asked = emergencies_;
    return Worker(sale.line).Run(
        [this, asked, sale, &recorder](LineContext& c) {
            if (emergencies_ != asked) throw Refused("отпуск отменён: аварийный останов");
            return AuthoriseSale(c, sale, recorder);
        },
        kAuthoriseTimeout);
}

json Service::Stop(int line, int dispenser, std::optional<int> nozzle) {
    LineWorker& worker = Worker(line);
    const host::StationDispenser* d = worker.Line().Find(dispenser);
    if (d == nullptr)
        throw LineFailure("no dispenser " + std::to_string(dispenser) + " on line " + std::to_string(line));
    SaleRecorder& recorder = *recorder_;
    json stopped = worker.Run(
        [d, nozzle, &recorder](LineContext& c) {
            return StopNozzles(c, d->number, nozzle ? std::vector<int>{*nozzle} : ActiveNozzles(c, *d), recorder);
        },
        kStopTimeout, Urgency::Urgent);
    json out = StopResult(std::move(stopped));
    out["line"] = line;
    out["dispenser"] = dispenser;
    return out;
}

json Service::SetPrice(int line, int dispenser, int nozzle, double price) {
    return Worker(line).Run(
        [dispenser, nozzle, price](LineContext& c) { return service::SetPrice(c, dispenser, nozzle, price); },
        kPriceTimeout);
}

// Every line at once, each through its own worker ahead of its next poll. A
// line whose worker did not answer in time counts as a failure of each of
// its nozzles: nothing is known to be stopped there.
json Service::EmergencyStop() {
    ++emergencies_;
    SaleRecorder& recorder = *recorder_;
    std::vector<std::future<json>> lines;
    for (auto& w : workers_)
        lines.push_back(std::async(std::launch::async, [&worker = *w, &recorder] {
            try {
                return worker.Run(
                    [&worker, &recorder](LineContext& c) {
                        json stopped = json::array();
                        for (const host::StationDispenser& d : worker.Line().dispensers)
                            for (json& s : StopNozzles(c, d.number, ActiveNozzles(c, d), recorder))
                                stopped.push_back(std::move(s));
                        return stopped;
                    },
                    kStopTimeout, Urgency::Urgent);
            } catch (const std::exception& e) {
                json failed = json::array();
                for (const host::StationDispenser& d : worker.Line().dispensers)
                    for (int k = 1; k <= d.nozzles; ++k)
                        failed.push_back({{"line", worker.Line().line},
                                          {"dispenser", d.number},
                                          {"nozzle", k},
                                          {"result", "failed"},
                                          {"cause", e.what()}});
                return failed;
            }
        }));
    json stopped = json::array();
    for (auto& l : lines)
        for (json& s : l.get()) stopped.push_back(std::move(s));
    return StopResult(std::move(stopped));
}

}  // namespace zarvik::service
