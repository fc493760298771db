#include "FaultMatrix.h"

#include <cstdio>
#include <memory>
#include <thread>

#include "FarEnd.h"
#include "SimulatedLine.h"
#include "library/DriverObject.h"
#include "sim/Station.h"
#include "support/WireUnits.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

constexpr int kLine = 1;
constexpr int kDispensers = 4;  // two addresses, two dispensers each
constexpr int kNozzles = 3;
constexpr int kParameterTable = 3, kParameterRow = 1, kParameterField = 1;
constexpr int kParameterCode = 1000000 + kParameterTable * 10000 + kParameterRow * 100 + kParameterField;

// The nozzle each dispenser delivered through, and how much.
int DeliveredNozzle(int dispenser) { return 1 + dispenser % kNozzles; }
double DoseLitres(int dispenser) { return 1.0 + 0.25 * dispenser; }
std::uint32_t TotalOf(int dispenser, int nozzle) {
    return 1000000u * static_cast<std::uint32_t>(dispenser) + 10000u * static_cast<std::uint32_t>(nozzle) + 7u;
}
std::uint32_t ParameterOf(int address) { return 17u * static_cast<std::uint32_t>(address); }

struct Rig {
    explicit Rig(const MatrixOptions& options)
        : station(QuickStation()), farEnd(station, options.pacing), port(farEnd.Devices()) {
        port.SetDevice(kLine, farEnd.Device());
        port.SetSettings(kLine, options.settings);
        driver.reset(CreateDriver(0, 0, &port));
        driver->OpenPort(kLine);
    }
    ~Rig() {
        port.CloseLine(kLine);
        farEnd.Stop();
    }

    // Distinct deliveries, totals and parameters, set up before any fault.
    void Prepare() {
        for (std::uint8_t a = 1; a <= 2; ++a)
            station.SetParameter(a, kParameterTable, kParameterRow, kParameterField, ParameterOf(a));
        for (int d = 1; d <= kDispensers; ++d) {
            driver->SetVolumeDose(kLine, d, DeliveredNozzle(d), 0, DoseLitres(d));
            driver->StartNozzle(kLine, d, DeliveredNozzle(d), 0);
        }
        // Poll until every delivery has ended and its nozzle hangs again.
        for (int round = 0; round < 400; ++round) {
            bool idle = true;
            for (int d = 1; d <= kDispensers; ++d) {
                TDispenserStatus st{};
                driver->GetDispenserStatus(kLine, d, kNozzles, st);
                idle = idle && st.State == 192;
            }
            if (idle) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (int d = 1; d <= kDispensers; ++d)
            for (int k = 1; k <= kNozzles; ++k) station.SetTotal(d, k, TotalOf(d, k));
    }

    sim::Station station;
    FarEnd farEnd;
    port::SerialPortManager port;
    std::unique_ptr<TVM30> driver;
};

// One operation; true when the host got a good result with the true values.
enum class Outcome { Good, Bad, Timeout, Wrong };

Outcome Operate(Rig& rig, int i) {
    TVM30& d = *rig.driver;
    const int step = i / 3;
    try {
        switch (i % 3) {
            case 0: {
                const int dispenser = 1 + step % kDispensers;
                TDispenserStatus st{};
                d.GetDispenserStatus(kLine, dispenser, kNozzles, st);
                if (d.GetLineResult(kLine) != 1) return Outcome::Bad;
                double volume = -1, money = -1;
                d.GetDeliveryValues(kLine, dispenser, volume, money);
                const auto truth = rig.station.Nozzle(dispenser, DeliveredNozzle(dispenser));

                return Thousandths(volume) == truth.volume && Hundredths(money) == truth.money ? Outcome::Good
                                                                                               : Outcome::Wrong;
            }
            case 1: {
                const int dispenser = 1 + step % kDispensers;
                const int nozzle = 1 + (step / kDispensers) % kNozzles;
                double total = -1;
                d.ReadNozzleTotal(kLine, dispenser, nozzle, total, 0, 0, 0);
                if (d.GetLineResult(kLine) != 1) return Outcome::Bad;
                const auto truth = rig.station.Nozzle(dispenser, nozzle);
                return Thousandths(total) == truth.total ? Outcome::Good : Outcome::Wrong;
            }
            default: {
                const int address = 1 + step % 2;
                const std::int32_t value = d.ReadParameter(kLine, address, kParameterCode);
                if (d.GetLineResult(kLine) != 1) return Outcome::Bad;
                return value == static_cast<std::int32_t>(ParameterOf(address)) ? Outcome::Good : Outcome::Wrong;
            }
        }
    } catch (const ESerialIO&) {
        return Outcome::Timeout;
    }
}

}  // namespace

std::string MatrixCell::Name() const {
    std::string name(sim::FaultName(mode));
    if (mode == sim::FaultMode::kDelay || mode == sim::FaultMode::kLateNonEchoing)
        name += " " + std::to_string(delay.count()) + "ms";
    if (mode == sim::FaultMode::kFixedSequence) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " 0x%02X", fixedSequence);
        name += hex;
    }
    return name;
}

std::vector<MatrixCell> AllMatrixCells() {
    using sim::FaultMode;
    // No fault: the cycle time every other row is compared with.
    std::vector<MatrixCell> cells{{FaultMode::kNone, 0.0}};
    for (const double rate : {0.10, 1.0}) {
        for (const FaultMode mode :
             {FaultMode::kDropReply, FaultMode::kBadChecksum, FaultMode::kWrongLength, FaultMode::kWrongStart,
              FaultMode::kTruncate, FaultMode::kNoise, FaultMode::kOtherSequence, FaultMode::kOtherAddress})
            cells.push_back({mode, rate});
        for (const std::uint8_t fixed : {0x00, 0x55}) cells.push_back({FaultMode::kFixedSequence, rate, {}, fixed});
        // Replies that are well formed but do not answer their request.
        for (const FaultMode mode : {FaultMode::kDuplicate, FaultMode::kOtherNozzle, FaultMode::kOtherCommand,
                                     FaultMode::kLocalEcho, FaultMode::kRefuseAny})
            cells.push_back({mode, rate});
        cells.push_back({FaultMode::kLateNonEchoing, rate, std::chrono::milliseconds(450), 0x00});
    }
    for (const auto delay : {400, 500, 1000})
        for (const double rate : {0.10, 0.50, 1.0})
            cells.push_back({FaultMode::kDelay, rate, std::chrono::milliseconds(delay)});
    return cells;
}

MatrixResult RunMatrixCell(const MatrixCell& cell, const MatrixOptions& options) {
    Rig rig(options);
    rig.Prepare();
    rig.station.SetFaultDelay(cell.delay);
    rig.station.SetFixedSequence(cell.fixedSequence);
    rig.station.SetFaultRate(cell.mode, cell.rate, options.seed);
    const auto began = std::chrono::steady_clock::now();
    const auto before = rig.port.Statistics(kLine);
    MatrixResult r;
    for (int i = 0; i < options.operations; ++i) {
        switch (Operate(rig, i)) {
            case Outcome::Good:
                ++r.good;
                break;
            case Outcome::Bad:
                ++r.bad;
                break;
            case Outcome::Timeout:
                ++r.timeouts;
                break;
            case Outcome::Wrong:
                ++r.wrong;
                break;
        }
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto after = rig.port.Statistics(kLine);
    r.exchanges = after.exchanges - before.exchanges;
    r.staleDropped = after.staleReplies - before.staleReplies;
    r.foreignDropped = after.foreignReplies - before.foreignReplies;
    r.notAnswersDropped = after.mismatchedReplies + after.duplicateReplies + after.localEchoes -
                          (before.mismatchedReplies + before.duplicateReplies + before.localEchoes);
    r.refusals = after.refusals - before.refusals;
    r.sequenceEcho = after.sequenceEcho;
    return r;
}

std::vector<MatrixResult> RunMatrix(const std::vector<MatrixCell>& cells, const MatrixOptions& options) {
    std::vector<MatrixResult> results(cells.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < cells.size(); ++i)
        threads.emplace_back([&, i] { results[i] = RunMatrixCell(cells[i], options); });
    for (auto& t : threads) t.join();
    std::printf("%-24s %5s %6s %6s %6s %8s %6s %9s %6s %7s %7s %7s %6s %8s\n", "fault", "rate", "ops", "good", "bad",
                "timeouts", "wrong", "exchanges", "stale", "foreign", "unasked", "refused", "echo", "seconds");
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const auto& c = cells[i];
        const auto& r = results[i];
        std::printf("%-24s %4.0f%% %6d %6d %6d %8d %6d %9llu %6llu %7llu %7llu %7llu %6s %8.1f\n", c.Name().c_str(),
                    c.rate * 100, options.operations, r.good, r.bad, r.timeouts, r.wrong,
                    static_cast<unsigned long long>(r.exchanges), static_cast<unsigned long long>(r.staleDropped),
                    static_cast<unsigned long long>(r.foreignDropped),
                    static_cast<unsigned long long>(r.notAnswersDropped), static_cast<unsigned long long>(r.refusals),
                    port::LearntName(r.sequenceEcho), r.seconds);
    }
    std::fflush(stdout);
    return results;
}

}  // namespace zarvik::testing
