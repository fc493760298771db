#include "ReplyReader.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace zarvik::port {
namespace {

constexpr std::size_t kLenOffset = 3;
// Batching sleeps shorter than this are not worth a wake-up of their own:
// poll for the next byte instead.
constexpr auto kMinBatchSleep = std::chrono::microseconds(1500);

enum class WaitResult { Readable, Timeout, DeviceError };

WaitResult WaitReadable(int fd, Clock::time_point until) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return WaitResult::Timeout;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::DeviceError;
        }
        if (r == 0) continue;  // re-check the clock: poll rounds to milliseconds
        if ((p.revents & POLLIN) != 0) return WaitResult::Readable;
        return WaitResult::DeviceError;  // POLLHUP, POLLERR or POLLNVAL without data
    }
}

}  // namespace

ReplyOutcome ReadReply(int fd, std::uint8_t* buffer, std::size_t capacity, const ReplyLimits& limits) {
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
    if (limits.expectedComplete != Clock::time_point{} && limits.expectedComplete > Clock::now()) {
        std::this_thread::sleep_until(std::min(limits.expectedComplete, limits.firstByteDeadline));
        ++out.wakeups;
        readFirst = slept = true;
    }
    for (;;) {
        if (!readFirst) {
            const Clock::time_point until =
                got == 0 ? limits.firstByteDeadline : std::min(lastByte + limits.interByte, limits.hardDeadline);
            const WaitResult w = WaitReadable(fd, until);
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

        // Read what is there, then sleep while the rest is on the wire: up to
        // LEN while it is unknown, else to the end of the frame.
        bool failed = false;
        for (;;) {
            // Never read past the frame: what follows it belongs to the next
            // one (a late reply and the real one can arrive back to back).
            // Up to LEN first, then the rest LEN announces.
            const std::size_t target = ReplyTarget(buffer, got, capacity);
            const std::size_t limit = got <= kLenOffset ? std::min(target, kLenOffset + 1) : target;
            long n = ReadAvailable(fd, buffer + got, limit - got);
            if (n > 0 && got + static_cast<std::size_t>(n) == kLenOffset + 1) {
                const std::size_t rest = ReplyTarget(buffer, kLenOffset + 1, capacity) - (kLenOffset + 1);
                const long more = rest == 0 ? 0 : ReadAvailable(fd, buffer + kLenOffset + 1, rest);
                n = more < 0 ? more : n + more;
            }
            if (n < 0) {
                failed = true;
                break;
            }
            if (n > 0) {
                if (got == 0) out.firstByteAt = Clock::now();
                got += static_cast<std::size_t>(n);
                lastByte = Clock::now();
            }
            const std::size_t needed = ReplyTarget(buffer, got, capacity);
            if (got >= needed) break;
            if (n == 0) break;  // nothing new since the last sleep: back to poll
            const std::size_t due = got <= kLenOffset ? kLenOffset + 1 - got : needed - got;
            const auto sleepFor = WireTime(due, limits.baud);
            if (sleepFor < kMinBatchSleep) break;
            // A LEN that lies (noise, corruption) must not stretch the wait
            // past the inter-byte limit: bytes that do not come end the reply.
            const auto wakeAt = std::min({Clock::now() + sleepFor, lastByte + limits.interByte, limits.hardDeadline});
            std::this_thread::sleep_until(wakeAt);
            ++out.wakeups;
        }
        if (failed) {
            out.end = ReplyEnd::DeviceError;
            break;
        }
        if (got >= ReplyTarget(buffer, got, capacity)) {
            out.end = ReplyEnd::Complete;
            out.asExpected = slept && out.wakeups == 1;
            break;
        }
        if (Clock::now() >= limits.hardDeadline) {
            out.end = ReplyEnd::Gap;
            break;
        }
    }
    out.length = got;
    return out;
}

long DrainLateBytes(int fd, Clock::duration quiet, Clock::time_point limit, unsigned& wakeups,
                    const std::function<void(const std::uint8_t*, std::size_t)>& seen) {
    std::uint8_t sink[256];
    long total = 0;
    for (;;) {
        const auto until = std::min(Clock::now() + quiet, limit);
        const WaitResult w = WaitReadable(fd, until);
        ++wakeups;
        if (w == WaitResult::Timeout) return total;
        if (w == WaitResult::DeviceError) return -1;
        const long n = ReadAvailable(fd, sink, sizeof sink);
        if (n < 0) return -1;
        if (n > 0 && seen) seen(sink, static_cast<std::size_t>(n));
        total += n;
        if (Clock::now() >= limit) return total;
    }
}

}  // namespace zarvik::port
