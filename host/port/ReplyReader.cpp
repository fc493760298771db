#include "ReplyReader.h"

#include <algorithm>

namespace zarvik::port {
namespace {

using protocol::kOffsetLen;
// Batching sleeps shorter than this are not worth a wake-up of their own:
// poll for the next byte instead.
constexpr auto kMinBatchSleep = std::chrono::microseconds(1500);

// Reads what is there, then sleeps while the rest is on the wire (up to LEN
// while it is unknown, else to the end of the frame) and reads again, until
// the frame is whole or nothing new came. False when the device failed.
bool ReadWhatIsThere(SerialDevice& device, std::uint8_t* buffer, std::size_t capacity, const ReplyLimits& limits,
                     std::size_t& got, Clock::time_point& lastByte, ReplyOutcome& out) {
    for (;;) {
        // Never read past the frame: what follows it belongs to the next
        // one (a late reply and the real one can arrive back to back).
        // Up to LEN first, then the rest LEN announces.
        const std::size_t target = ReplyTarget(buffer, got, capacity);
        const std::size_t limit = got <= kOffsetLen ? std::min(target, kOffsetLen + 1) : target;
        long n = device.ReadAvailable(buffer + got, limit - got);
        if (n > 0 && got + static_cast<std::size_t>(n) == kOffsetLen + 1) {
            const std::size_t rest = ReplyTarget(buffer, kOffsetLen + 1, capacity) - (kOffsetLen + 1);
            const long more = rest == 0 ? 0 : device.ReadAvailable(buffer + kOffsetLen + 1, rest);
            n = more < 0 ? more : n + more;
        }
        if (n < 0) return false;
        if (n > 0) {
            if (got == 0) out.firstByteAt = device.Now();
            got += static_cast<std::size_t>(n);
            lastByte = device.Now();
        }
        const std::size_t needed = ReplyTarget(buffer, got, capacity);
        if (got >= needed) return true;
        if (n == 0) return true;  // nothing new since the last sleep: back to poll
        const std::size_t due = got <= kOffsetLen ? kOffsetLen + 1 - got : needed - got;
        const auto sleepFor = WireTime(due, limits.baud);
        if (sleepFor < kMinBatchSleep) return true;
        // A LEN that lies (noise, corruption) must not stretch the wait
        // past the inter-byte limit: bytes that do not come end the reply.
        device.SleepUntil(std::min({device.Now() + sleepFor, lastByte + limits.interByte, limits.hardDeadline}));
        ++out.wakeups;
    }
}

}  // namespace

ReplyOutcome ReadReply(SerialDevice& device, std::uint8_t* buffer, std::size_t capacity, const ReplyLimits& limits) {
    ReplyOutcome out;
    if (capacity == 0) {
        out.end = ReplyEnd::Complete;
        return out;
    }
    std::size_t got = 0;
    Clock::time_point lastByte{};
    // A reply whose arrival the line's history predicts is slept for and
    // then read as it stands; whatever is missing is waited for as usual.
    bool readFirst = false;
    bool slept = false;
    if (limits.expectedComplete != Clock::time_point{} && limits.expectedComplete > device.Now()) {
        device.SleepUntil(std::min(limits.expectedComplete, limits.firstByteDeadline));
        ++out.wakeups;
        readFirst = slept = true;
    }
    for (;;) {
        if (!readFirst) {
            const Clock::time_point until =
                got == 0 ? limits.firstByteDeadline : std::min(lastByte + limits.interByte, limits.hardDeadline);
            const WaitResult w = device.WaitReadable(until);
            ++out.wakeups;
            if (w == WaitResult::DeviceError) {
                out.end = ReplyEnd::DeviceError;
                break;
            }
            if (w == WaitResult::Timeout) {
                out.end = got == 0 ? ReplyEnd::NoReply : ReplyEnd::Gap;
                break;
            }
        }
        readFirst = false;

        const bool failed = !ReadWhatIsThere(device, buffer, capacity, limits, got, lastByte, out);
        if (failed) {
            out.end = ReplyEnd::DeviceError;
            break;
        }
        if (got >= ReplyTarget(buffer, got, capacity)) {
            out.end = ReplyEnd::Complete;
            out.asExpected = slept && out.wakeups == 1;
            break;
        }
        if (device.Now() >= limits.hardDeadline) {
            out.end = ReplyEnd::Gap;
            break;
        }
    }
    out.length = got;
    return out;
}

long DrainLateBytes(SerialDevice& device, Clock::duration quiet, Clock::time_point limit, unsigned& wakeups,
                    const std::function<void(const std::uint8_t*, std::size_t)>& seen) {
    std::uint8_t sink[256];
    long total = 0;
    for (;;) {
        const auto until = std::min(device.Now() + quiet, limit);
        const WaitResult w = device.WaitReadable(until);
        ++wakeups;
        if (w == WaitResult::Timeout) return total;
        if (w == WaitResult::DeviceError) return -1;
        const long n = device.ReadAvailable(sink, sizeof sink);
        if (n < 0) return -1;
        if (n > 0 && seen) seen(sink, static_cast<std::size_t>(n));
        total += n;
        if (device.Now() >= limit) return total;
    }
}

}  // namespace zarvik::port
