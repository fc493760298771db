// The station service's lines: one driver library, one port service and one
// driver object for every line of the station file, a LineWorker per line
// and the state they keep. Reads through a line's worker (LineReads) wait at
// most a few seconds each.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "loader/DriverLibrary.h"
#include "port/SerialPortManager.h"
#include "service/Api.h"
#include "service/Control.h"
#include "service/LineWorker.h"
#include "service/StationState.h"
#include "station/StationFile.h"
#include "station/StatusReplies.h"

namespace zarvik::service {

class Service final : public LineReads, public PumpControl {
public:
    // Loads the library (empty: the default) and creates the driver. Throws
    // HostError (configuration) with the cause.
    Service(host::StationFile station, const std::string& library, LogFunction log);
    ~Service() override;

    void Start();  // maps every line to its device and starts its worker
    void Stop();   // idempotent; no driver call runs afterwards

    const host::StationFile& Station() const { return station_; }
    const StationState& State() const { return state_; }
    // Before Start: told of each pump change (StationState::OnPumpChanged).
    void OnPumpChanged(StationState::PumpChanged observer) { state_.OnPumpChanged(std::move(observer)); }
    std::string DriverInfo() const;  // UTF-8
    // The fewest dispenser polls ended on any line: it grows while every
    // worker moves on (a poll takes at most a few response timeouts).
    std::uint64_t LeastProgress() const;

    json Totals(const host::StationLine& line, std::optional<int> dispenser) override;
    json Tables(int line, int address) override;
    std::int32_t Parameter(int line, int address, std::int32_t code) override;

    json Authorise(const Authorisation& sale) override;
    json Stop(int line, int dispenser, std::optional<int> nozzle) override;
    json EmergencyStop() override;
    json SetPrice(int line, int dispenser, int nozzle, double price) override;
    // Told of every sale command; set before Start. Default: records nothing.
    void SetRecorder(SaleRecorder& recorder);

private:
    LineWorker& Worker(int line);

    const host::StationFile station_;
    const LogFunction log_;
    StationState state_;
    host::DriverLibrary library_;
    port::SerialPortManager port_;
    std::shared_ptr<host::StatusReplies> replies_ = std::make_shared<host::StatusReplies>();
    std::unique_ptr<TDriver25> driver_;
    std::vector<std::unique_ptr<LineWorker>> workers_;
    // Emergency stops asked so far: an authorisation asked before one and
    // not yet sent is refused, never started after it.
    std::atomic<std::uint64_t> emergencies_ = 0;
    SaleRecorder noRecorder_;
    SaleRecorder* recorder_ = &noRecorder_;
};

}  // namespace zarvik::service
