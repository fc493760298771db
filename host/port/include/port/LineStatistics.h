// Per-line counters of the serial port service.
//
// Every transfer counts once in `exchanges` and once in exactly one of
// `good` or `bad`; `badByError` splits the bad ones by the error code the
// line ended with (timeouts and device errors included). Latency is the time
// from the end of the request's write to the last byte of a good reply;
// percentiles come from the latest 4096 good replies
// (LineStatisticsRecorder.h, private to the service).
//
// What the line learnt of its dispenser (ReplyFilter.h) is shown too: does
// it echo the request's sequence number and bus address, and is the line
// filtering stale replies (false once it fell back to unfiltered).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>

#include "PortExport.h"

namespace zarvik::port {

// What a line has learnt of its dispenser: does it echo the request's
// sequence number (or bus address)?
enum class Learnt : std::uint8_t { Unknown, Yes, No };
ZARVIK_PORT_API const char* LearntName(Learnt learnt);  // "unknown", "yes", "no"

// Traffic of the line, counted per exchange and summed per line.
struct TrafficCounts {
    std::uint64_t reopens = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesDiscarded = 0;     // stale or late input thrown away
    std::uint64_t wakeups = 0;            // receive-side wake-ups, all exchanges
    std::uint64_t staleReplies = 0;       // whole replies to earlier, unanswered requests, dropped
    std::uint64_t foreignReplies = 0;     // whole replies with another number or address, dropped
    std::uint64_t opensDeferred = 0;      // exchanges failed at once: the next open attempt not yet due
    std::uint64_t mismatchedReplies = 0;  // whole replies with another address, command or nozzle, dropped
    std::uint64_t duplicateReplies = 0;   // copies of a reply already taken, dropped
    std::uint64_t localEchoes = 0;        // our own requests read back, skipped
    std::uint64_t refusals = 0;           // replies that answered and refused (result byte nonzero)

    ZARVIK_PORT_API TrafficCounts& operator+=(const TrafficCounts& other);
};

// What the line believes of its dispenser after an exchange; the latest
// exchange's belief is the line's.
struct EchoLearning {
    Learnt sequenceEcho = Learnt::Unknown;
    Learnt addressEcho = Learnt::Unknown;
    bool filtering = true;
    bool strict = true;              // replies matched by address, command and nozzle
    bool fellBack = false;           // strict by setting, lenient since no reply ever matched
    const char* localEcho = "auto";  // the line's local-echo setting: "auto", "on", "off"
};

struct LineStatistics : TrafficCounts, EchoLearning {
    std::uint64_t exchanges = 0;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t deviceErrors = 0;
    std::map<std::int32_t, std::uint64_t> badByError;
    std::chrono::microseconds latencyP50{0};
    std::chrono::microseconds latencyP95{0};
    std::chrono::microseconds latencyMax{0};
};

}  // namespace zarvik::port
