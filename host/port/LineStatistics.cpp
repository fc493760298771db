#include "port/LineStatistics.h"

#include <algorithm>

#include "LineStatisticsRecorder.h"
#include "port/PortErrors.h"

namespace zarvik::port {

const char* LearntName(Learnt learnt) {
    return learnt == Learnt::Yes ? "yes" : learnt == Learnt::No ? "no" : "unknown";
}

TrafficCounts& TrafficCounts::operator+=(const TrafficCounts& other) {
    static constexpr std::uint64_t TrafficCounts::*kCounts[] = {
        &TrafficCounts::reopens,          &TrafficCounts::bytesSent,     &TrafficCounts::bytesReceived,
        &TrafficCounts::bytesDiscarded,   &TrafficCounts::wakeups,       &TrafficCounts::staleReplies,
        &TrafficCounts::foreignReplies,   &TrafficCounts::opensDeferred, &TrafficCounts::mismatchedReplies,
        &TrafficCounts::duplicateReplies, &TrafficCounts::localEchoes,   &TrafficCounts::refusals};
    static_assert(sizeof(kCounts) / sizeof(kCounts[0]) * sizeof(std::uint64_t) == sizeof(TrafficCounts),
                  "every count of TrafficCounts is added");
    for (const auto count : kCounts) this->*count += other.*count;
    return *this;
}

void LineStatisticsRecorder::Record(const ExchangeRecord& x) {
    ++counters.exchanges;
    if (x.good)
        Good(x.latency);
    else
        Bad(x.error);
    static_cast<TrafficCounts&>(counters) += x;
    static_cast<EchoLearning&>(counters) = x;
}

void LineStatisticsRecorder::Good(std::chrono::microseconds latency) {
    ++counters.good;
    if (latencies_.size() < kLatencyWindow) {
        latencies_.push_back(latency);
    } else {
        latencies_[next_] = latency;
        next_ = (next_ + 1) % kLatencyWindow;
    }
    max_ = std::max(max_, latency);
}

void LineStatisticsRecorder::Bad(std::int32_t error) {
    ++counters.bad;
    ++counters.badByError[error];
    if (error == kErrorTimeout) ++counters.timeouts;
    if (error == kErrorDevice) ++counters.deviceErrors;
}

LineStatistics LineStatisticsRecorder::Snapshot() const {
    LineStatistics s = counters;
    s.latencyMax = max_;
    if (!latencies_.empty()) {
        std::vector<std::chrono::microseconds> sorted = latencies_;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double q) {
            const auto index = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
            return sorted[index];
        };
        s.latencyP50 = at(0.50);
        s.latencyP95 = at(0.95);
    }
    return s;
}

}  // namespace zarvik::port
