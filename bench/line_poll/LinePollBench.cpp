// Polls a whole simulated line (2 addresses x 2 dispensers x 3 nozzles)
// paced at 9600 baud with no turnaround, through the driver and the real
// serial port service, and reports:
//   wire_ratio     cycle time / the wire-time limit, the sum over exchanges
//                  of (request + reply bytes) x 10 / 9600 s
//   reply_wire_ratio  the same against the reply bytes alone: a pty takes
//                  the request at once, only the simulator's reply is paced
//   cpu_us_per_ex  CPU time of the polling thread (driver + port service)
//                  per exchange; process_cpu_us_per_ex adds the simulator's
//                  byte-pacing thread
//   wakeups_per_ex receive-side wake-ups of the port service per exchange
#include <benchmark/benchmark.h>
#include <time.h>

#include <memory>

#include "library/DriverObject.h"
#include "port/SerialPortManager.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace {

using namespace zarvik;

constexpr int kLine = 1;
constexpr int kDispensers = 4;
constexpr int kNozzles = 3;
constexpr double kRequestBytes = 7;  // 0x9F request frame
constexpr double kReplyBytes = 35;   // status reply frame
constexpr double kBaud = 9600;

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void PollLine(benchmark::State& state, bool pacing) {
    sim::Station station;  // default: addresses 1 and 2, 3 nozzles per dispenser
    sim::EndpointOptions eo;
    eo.baud = static_cast<int>(kBaud);
    eo.pacing = pacing;
    eo.turnaround = std::chrono::microseconds(0);
    sim::SerialEndpoint endpoint(station, eo);
    port::SerialPortManager ports;
    ports.SetDevice(kLine, endpoint.OpenPty());
    endpoint.Start();
    std::unique_ptr<TVM30> driver(CreateDriver(0, 0, &ports));
    if (driver->OpenPort(kLine) != 0) {
        state.SkipWithError("cannot open the pty");
        return;
    }

    std::int64_t exchanges = 0;
    double wall = 0, cpu = 0, processCpu = 0;
    for (auto _ : state) {
        const auto began = std::chrono::steady_clock::now();
        const double cpuBegan = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double processBegan = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        for (int d = 1; d <= kDispensers; ++d) {
            TDispenserStatus st{};
            driver->GetDispenserStatus(kLine, d, kNozzles, st);
            benchmark::DoNotOptimize(st);
        }
        cpu += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBegan;
        processCpu += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBegan;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        exchanges += kDispensers * kNozzles;
    }
    const auto stats = ports.Statistics(kLine);
    const double limit = static_cast<double>(exchanges) * (kRequestBytes + kReplyBytes) * 10.0 / kBaud;
    state.counters["wire_ratio"] = wall / limit;
    // A pty delivers the request at once; only the reply is paced.
    state.counters["reply_wire_ratio"] = wall / (static_cast<double>(exchanges) * kReplyBytes * 10.0 / kBaud);
    state.counters["cpu_us_per_ex"] = cpu * 1e6 / static_cast<double>(exchanges);
    state.counters["process_cpu_us_per_ex"] = processCpu * 1e6 / static_cast<double>(exchanges);
    state.counters["wakeups_per_ex"] =
        static_cast<double>(stats.wakeups) / static_cast<double>(stats.exchanges ? stats.exchanges : 1);
    state.counters["bad"] = static_cast<double>(stats.bad);
    state.counters["latency_p95_us"] = static_cast<double>(stats.latencyP95.count());
    endpoint.Stop();
}
void BM_PollPacedLine(benchmark::State& state) { PollLine(state, true); }
// The same without pacing: what the exchanges cost when bytes arrive at once.
void BM_PollUnpacedLine(benchmark::State& state) { PollLine(state, false); }
BENCHMARK(BM_PollPacedLine)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_PollUnpacedLine)->Unit(benchmark::kMillisecond)->Iterations(200)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
