#include "service/Service.h"

#include "hostkit/ExitCodes.h"
#include "loader/DriverSlots.h"
#include "protocol/Cp1251.h"
#include "service/LineJobs.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr auto kTotalsTimeout = std::chrono::seconds(10);
constexpr auto kTablesTimeout = std::chrono::seconds(20);
constexpr auto kParameterTimeout = std::chrono::seconds(5);

}  // namespace

Service::Service(host::StationFile station, const std::string& library, LogFunction log)
    : station_(std::move(station)), log_(std::move(log)) {
    library_.Load(library.empty() ? host::DefaultLibraryPath() : library);
    driver_.reset(library_.Create(0, &port_));
    if (driver_ == nullptr) throw host::HostError(host::kExitConfig, "the library returned no driver object");
    // Every frame is seen before any exchange runs: each nozzle's own values.
    port_.SetTraceHook([replies = replies_](const port::FrameTraceEvent& e) { replies->Observe(e); });
    for (const host::StationLine& line : station_.lines)
        workers_.push_back(std::make_unique<LineWorker>(driver_.get(), port_, replies_, line, state_, log_));
}

Service::~Service() {
    Stop();
    // The driver goes before the port service it was created on.
    driver_.reset();
}

void Service::Start() {
    for (const host::StationLine& line : station_.lines) host::ConfigureLine(port_, line);
    for (auto& worker : workers_) worker->Start();
}

void Service::Stop() {
    for (auto& worker : workers_) worker->Stop();
}

std::string Service::DriverInfo() const {
    TShortString info;
    host::slots::DriverInfo(driver_.get(), info);
    return cp1251::ToUtf8(info.view());
}

std::uint64_t Service::LeastProgress() const {
    std::uint64_t fewest = UINT64_MAX;
    for (const auto& worker : workers_) fewest = std::min(fewest, worker->Progress());
    return workers_.empty() ? 0 : fewest;
}

void Service::SetRecorder(SaleRecorder& recorder) {
    recorder_ = &recorder;
    for (auto& worker : workers_)
        worker->SetAfterPoll([&recorder](LineContext& c, const host::StationDispenser& d, const PumpReading& reading) {
            recorder.Polled(c, d, reading);
        });
}

LineWorker& Service::Worker(int line) {
    for (auto& worker : workers_)
        if (worker->Line().line == line) return *worker;
    throw LineFailure("no line " + std::to_string(line));
}

json Service::Totals(const host::StationLine& line, std::optional<int> dispenser) {
    return Worker(line.line).Run([line, dispenser](LineContext& c) { return ReadLineTotals(c, line, dispenser); },
                                 kTotalsTimeout);
}

json Service::Tables(int line, int address) {
    return Worker(line).Run([address](LineContext& c) { return ReadTables(c, address); }, kTablesTimeout);
}

std::int32_t Service::Parameter(int line, int address, std::int32_t code) {
    return Worker(line)
        .Run([address, code](LineContext& c) { return json(ReadParameterValue(c, address, code)); }, kParameterTimeout)
        .get<std::int32_t>();
}

}  // namespace zarvik::service
