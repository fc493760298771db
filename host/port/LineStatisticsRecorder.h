// The running record behind a line's LineStatistics (port/LineStatistics.h),
// private to the port service: each exchange collects its counts in an
// ExchangeRecord without a lock and merges it once, at its end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "port/LineStatistics.h"

namespace zarvik::port {

// What one exchange adds to its line's statistics, collected without a lock
// and merged once at its end.
struct ExchangeRecord : TrafficCounts, EchoLearning {
    bool good = false;
    std::int32_t error = 0;  // the line error of a bad exchange
    std::chrono::microseconds latency{0};
};

// The running record behind LineStatistics; not thread-safe on its own.
class LineStatisticsRecorder {
public:
    static constexpr std::size_t kLatencyWindow = 4096;

    void Record(const ExchangeRecord& exchange);
    LineStatistics Snapshot() const;

    LineStatistics counters;  // everything but the latency figures is kept here

private:
    void Good(std::chrono::microseconds latency);
    void Bad(std::int32_t error);

    std::vector<std::chrono::microseconds> latencies_;  // ring of the latest good replies
    std::size_t next_ = 0;
    std::chrono::microseconds max_{0};
};

}  // namespace zarvik::port
