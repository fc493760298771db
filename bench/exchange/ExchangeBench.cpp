// One full status exchange: build the frame, hand it to an in-process port
// service that answers with a canned 35-byte reply, check it, decode it.
// Also counts allocations per exchange (expected 0).
#include <benchmark/benchmark.h>

#include <cstring>

#include "driver/VM30.h"
#include "protocol/Frame.h"
#include "support/CountingNew.h"

namespace {

// The smallest honest port service: one line, a canned reply, the checker
// called as a real service would.
class LoopbackPort : public zarvik::TPortManager {
public:
    LoopbackPort() {
        std::uint8_t data[30] = {0x9F};
        data[31 - 4] = 8;  // delivering
        reply_[0] = 0x02;
        reply_[2] = 1;
        reply_[3] = 30;
        std::memcpy(reply_ + 4, data, sizeof data);
        reply_[34] = zarvik::protocol::Xor(reply_, 1, 33);
    }
    std::int32_t GetLineError(std::uint8_t) override { return error_; }
    void SetLineError(std::uint8_t, std::int32_t code) override { error_ = code; }
    void SetLineState(std::uint8_t, std::uint8_t state) override { state_ = state; }
    std::uint8_t GetLineState(std::uint8_t) override { return state_; }
    void SetReplyChecker(std::uint8_t, zarvik::TReplyChecker checker) override { checker_ = checker; }
    void SetOpenHandler(std::int32_t, zarvik::TOpenHandler) override {}
    std::int32_t OpenLine(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {
        return 0;
    }
    std::int32_t WaitTransfer(const zarvik::TTransferHandle&) override { return 0; }
    zarvik::TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t, const std::uint8_t*, std::uint8_t,
                                          std::uint8_t* reply, std::uint8_t expected, std::int32_t,
                                          std::int32_t) override {
        std::memcpy(reply, reply_, expected < 35 ? expected : 35);
        std::int32_t length = 35;
        checker_(line, reply, length);
        return {};
    }

private:
    std::uint8_t reply_[35] = {};
    std::uint8_t state_ = 1;
    std::int32_t error_ = 0;
    zarvik::TReplyChecker checker_;
};

void BM_StatusExchange(benchmark::State& state) {
    LoopbackPort port;
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
