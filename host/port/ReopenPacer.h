// Spacing of a line's open attempts while its device stays away: after a
// failed attempt the next one is due kFirstWait later, the wait doubling up
// to kLongestWait; calls before then fail at once with the last error. A
// successful open or a new device path starts afresh. Time is passed in.
#pragma once

#include <chrono>

#include "port/SerialDevice.h"

namespace zarvik::port {

class ReopenPacer {
public:
    static constexpr Clock::duration kFirstWait = std::chrono::seconds(1);
    static constexpr Clock::duration kLongestWait = std::chrono::seconds(4);

    bool Due(Clock::time_point now) const { return wait_ == Clock::duration::zero() || now >= next_; }
    void Failed(Clock::time_point now) {
        wait_ = wait_ == Clock::duration::zero() ? kFirstWait : std::min(wait_ * 2, kLongestWait);
        next_ = now + wait_;
    }
    void Reset() { wait_ = Clock::duration::zero(); }
    Clock::duration Wait() const { return wait_; }

private:
    Clock::duration wait_{};
    Clock::time_point next_{};
};

}  // namespace zarvik::port
