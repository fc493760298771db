#include "service/EventBus.h"

namespace zarvik::service {

EventBus::EventBus(std::size_t capacity, std::uint64_t first) : capacity_(capacity < 1 ? 1 : capacity), next_(first) {}

std::uint64_t EventBus::Publish(const std::function<std::string(std::uint64_t seq)>& build) {
    std::uint64_t seq = 0;
    {
        const std::lock_guard lock(mutex_);
        seq = next_;
        ring_.push_back({seq, build(seq)});
        ++next_;
        if (ring_.size() > capacity_) ring_.pop_front();
    }
    published_.notify_all();
    return seq;
}

EventBus::Batch EventBus::After(std::uint64_t after, std::chrono::milliseconds wait) const {
    std::unique_lock lock(mutex_);
    Batch batch;
    batch.last = next_ - 1;
    const std::uint64_t oldest = ring_.empty() ? next_ : ring_.front().seq;
    // Every event after AFTER must still be held (and AFTER must be one given out).
    if (after + 1 < oldest || after > batch.last) {
        batch.reset = true;
        return batch;
    }
    if (after == batch.last) {
        published_.wait_for(lock, wait, [&] { return next_ - 1 > after; });
        batch.last = next_ - 1;
        if (after == batch.last) return batch;
        batch.reset = after + 1 < ring_.front().seq;  // overrun while waiting
        if (batch.reset) return batch;
    }
    for (const Event& e : ring_)
        if (e.seq > after) batch.events.push_back(e);
    return batch;
}

std::uint64_t EventBus::Last() const {
    const std::lock_guard lock(mutex_);
    return next_ - 1;
}

}  // namespace zarvik::service
