// The port service's reply collection on byte streams with gaps: whole
// exchanges (discard, send, collect past stale frames, judge, drain) against
// a scripted far end on a virtual clock, so gaps cost no real time.
//
// Input: byte 0 = exchanges (1..4, low 2 bits) and whether stale replies are
// filtered (bit 2); then per exchange its sequence number and the reply
// length the caller allows; the rest is the far end's script, chunks of
// (gap in half milliseconds, count, count bytes) arriving one after another
// from the first send on.
//
// Checked besides memory safety: every exchange ends with a known code, no
// later than its deadlines allow; a reply judged good is a whole frame; the
// statistics count every exchange once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "LineExchange.h"
#include "PortLine.h"
#include "port/PortErrors.h"
#include "protocol/Frame.h"

namespace {

using zarvik::port::Clock;

struct Chunk {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
};

// The far end: chunks arrive at their times on a virtual clock that only
// moves when the service waits or sleeps.
class ScriptedDevice final : public zarvik::port::SerialDevice {
public:
    std::deque<Chunk> script;
    Clock::time_point now{std::chrono::hours(1)};

    bool Open(const std::string&, std::int32_t) override { return open_ = true; }
    bool IsOpen() const override { return open_; }
    void Close() override { open_ = false; }
    long DiscardInput() override {
        long n = 0;
        while (!script.empty() && script.front().at <= now) {
            n += static_cast<long>(script.front().bytes.size());
            script.pop_front();
        }
        return n;
    }
    zarvik::port::IoStatus Write(const std::uint8_t*, std::size_t, Clock::time_point) override {
        return zarvik::port::IoStatus::Done;
    }
    zarvik::port::WaitResult WaitReadable(Clock::time_point until) override {
        while (!script.empty() && script.front().bytes.empty()) script.pop_front();
        if (!script.empty() && script.front().at <= until) {
            if (script.front().at > now) now = script.front().at;
            return zarvik::port::WaitResult::Readable;
        }
        if (until > now) now = until;
        return zarvik::port::WaitResult::Timeout;
    }
    long ReadAvailable(std::uint8_t* buffer, std::size_t capacity) override {
        std::size_t got = 0;
        while (got < capacity && !script.empty() && script.front().at <= now) {
            auto& bytes = script.front().bytes;
            const std::size_t n = std::min(capacity - got, bytes.size());
            std::copy(bytes.begin(), bytes.begin() + static_cast<long>(n), buffer + got);
            bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(n));
            got += n;
            if (bytes.empty()) script.pop_front();
        }
        return static_cast<long>(got);
    }
    zarvik::port::DeviceFault LastFault() const override { return {}; }
    Clock::time_point Now() const override { return now; }
    void SleepUntil(Clock::time_point t) override {
        if (t > now) now = t;
    }

private:
    bool open_ = true;
};

bool Check(void* data, std::uint8_t, const std::uint8_t* reply, std::int32_t, std::int32_t& length, std::int32_t) {
    auto* line = static_cast<zarvik::port::PortLine*>(data);
    const auto verdict = zarvik::protocol::JudgeReply(reply, static_cast<std::size_t>(length));
    line->state.store(verdict.state);
    line->error.store(verdict.error);
    return verdict.state == zarvik::kLineStateGood;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int exchanges = 1 + (data[0] & 3);
    const bool filter = (data[0] & 4) == 0;
    std::size_t at = 1;
    if (size < at + 2 * static_cast<std::size_t>(exchanges)) return 0;
    const std::uint8_t* requests = data + at;
    at += 2 * static_cast<std::size_t>(exchanges);

    auto device = std::make_unique<ScriptedDevice>();
    ScriptedDevice& far = *device;
    Clock::time_point arrival = far.now;
    while (at + 2 <= size) {
        arrival += std::chrono::microseconds(500) * data[at];
        const std::size_t count = std::min<std::size_t>(data[at + 1], size - at - 2);
        far.script.push_back({arrival, std::vector<std::uint8_t>(data + at + 2, data + at + 2 + count)});
        at += 2 + count;
    }

    zarvik::port::PortLine line(1, std::move(device));
    line.open.store(true);
    line.settings.response = std::chrono::milliseconds(30);
    line.settings.interByte = std::chrono::milliseconds(5);
    line.settings.drainQuiet = std::chrono::milliseconds(6);
    line.settings.discardStaleReplies = filter;
    line.checker = zarvik::TReplyChecker{&Check, &line};
    const zarvik::port::FrameTraceHook noTrace;

    for (int i = 0; i < exchanges; ++i) {
        const std::uint8_t sequence = requests[2 * i];
        const std::uint8_t expected = requests[2 * i + 1];
        std::uint8_t frame[16];
        const std::uint8_t payload[] = {0x01, 0x9F, 0x01};
        const auto n = zarvik::protocol::BuildFrame(sequence, payload, sizeof payload, frame);
        std::vector<std::uint8_t> reply(expected);  // exactly the caller's room: overruns are caught
        const Clock::time_point began = far.now;
        zarvik::port::LineExchange exchange(line, noTrace, far.now);
        const std::int32_t code = exchange.Run(frame, n, reply.data(), expected);
        const bool known = code == 0 || code == zarvik::port::kErrorTimeout || code == zarvik::port::kErrorDevice ||
                           code == zarvik::port::kErrorNotOpen;
        if (!known) std::abort();
        // Two response times (a stale frame stretches the wait once), the
        // longest frame, and a drain of one more response time.
        if (far.now - began > std::chrono::milliseconds(200)) std::abort();
        if (code == 0 && line.state.load() == zarvik::kLineStateGood) {
            const std::size_t length = expected > 3 ? std::size_t{reply[3]} + 5 : 0;
            if (length > expected || !zarvik::port::IsWholeFrame(reply.data(), length)) std::abort();
        }
    }
    const auto stats = line.stats.Snapshot();
    if (stats.exchanges != static_cast<std::uint64_t>(exchanges) || stats.good + stats.bad != stats.exchanges)
        std::abort();
    return 0;
}
