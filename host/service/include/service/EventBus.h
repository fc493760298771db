// The station's events in order: each gets the next sequence number, and the
// latest `capacity` are kept so a client that reconnects with the last number
// it saw (Last-Event-ID) is given every event after it. A client whose number
// is no longer (or never was) in the ring is told to re-read everything (a
// reset). Numbers start from the service's start time in microseconds, so
// those of an earlier run are always behind the ring. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zarvik::service {

struct Event {
    std::uint64_t seq = 0;
    std::string data;  // the event's JSON text (one line)
};

class EventBus {
public:
    // The first event gets FIRST (> 0).
    EventBus(std::size_t capacity, std::uint64_t first);

    // BUILD makes the event's text for its number; called under the bus's
    // lock, so numbers and the ring's order agree. Returns the number.
    std::uint64_t Publish(const std::function<std::string(std::uint64_t seq)>& build);

    struct Batch {
        std::vector<Event> events;  // after the number asked for, in order
        bool reset = false;         // some are gone: re-read, then follow from `last`
        std::uint64_t last = 0;     // the latest number given out (first - 1 before any)
    };
    // The events after AFTER, waiting at most WAIT for one when there is none.
    Batch After(std::uint64_t after, std::chrono::milliseconds wait) const;
    std::uint64_t Last() const;

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    mutable std::condition_variable published_;
    std::deque<Event> ring_;
    std::uint64_t next_;
};

}  // namespace zarvik::service
