// One full status exchange: build the frame, hand it to an in-process port
// service that answers with a canned 35-byte reply, check it, decode it.
// Also counts allocations per exchange (expected 0).
#include <benchmark/benchmark.h>

#include <cstring>

#include "driver/VM30.h"
#include "protocol/Frame.h"
#include "support/CountingNew.h"
#include "support/LoopbackPort.h"

namespace {

// A status reply of nozzle 1 of dispenser 1: delivering (status 8).
struct CannedStatus {
    std::uint8_t bytes[35] = {};
    CannedStatus() {
        std::uint8_t data[30] = {0x9F};
        data[31 - 4] = 8;
        bytes[0] = 0x02;
        bytes[2] = 1;
        bytes[3] = 30;
        std::memcpy(bytes + 4, data, sizeof data);
        bytes[34] = zarvik::protocol::Xor(bytes, 1, 33);
    }
};

void BM_StatusExchange(benchmark::State& state) {
    static const CannedStatus reply;
    zarvik::testing::LoopbackPort port;
    port.Answer(reply.bytes, sizeof reply.bytes);
    zarvik::TVM30 driver(0, &port);
    zarvik::TDispenserStatus status{};
    const long before = zarvik::testing::g_allocations.load();
    for (auto _ : state) {
        driver.GetDispenserStatus(1, 1, 1, status);
        benchmark::DoNotOptimize(status);
    }
    state.counters["allocations_per_exchange"] =
        static_cast<double>(zarvik::testing::g_allocations.load() - before) / static_cast<double>(state.iterations());
    if (status.State != 0xD9) state.SkipWithError("reply was not decoded");
}
BENCHMARK(BM_StatusExchange);

}  // namespace

BENCHMARK_MAIN();
