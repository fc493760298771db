// Per-line counters of the serial port service.
//
// Every transfer counts once in `exchanges` and once in exactly one of
// `good` or `bad`; `badByError` splits the bad ones by the error code the
// line ended with (timeouts and device errors included). Latency is the time
// from the end of the request's write to the last byte of a good reply;
// percentiles come from the latest kLatencyWindow good replies.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

namespace zarvik::port {

struct LineStatistics {
    std::uint64_t exchanges = 0;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t deviceErrors = 0;
    std::uint64_t reopens = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesDiscarded = 0;  // stale or late input thrown away
    std::uint64_t wakeups = 0;         // receive-side wake-ups, all exchanges
    std::map<std::int32_t, std::uint64_t> badByError;
    std::chrono::microseconds latencyP50{0};
    std::chrono::microseconds latencyP95{0};
    std::chrono::microseconds latencyMax{0};
};

// The running record behind LineStatistics; not thread-safe on its own.
class LineStatisticsRecorder {
public:
    static constexpr std::size_t kLatencyWindow = 4096;

    void Good(std::chrono::microseconds latency);
    void Bad(std::int32_t error);
    LineStatistics Snapshot() const;

    LineStatistics counters;  // everything but the latency figures is kept here

private:
    std::vector<std::chrono::microseconds> latencies_;  // ring of the latest good replies
    std::size_t next_ = 0;
    std::chrono::microseconds max_{0};
};

}  // namespace zarvik::port
