// One exchange on one line, in named phases:
//   Reopen             a closed line gets one open attempt through the host's
//                      open handler, when one is due (ReopenPacer.h)
//   DiscardStaleInput  whatever came in since the last exchange is thrown away;
//                      on a line just opened, whatever comes until it is quiet
//   AwaitQuiet         on a line not known to echo sequence numbers, the
//                      request waits for a quiet gap after the last reply (a
//                      copy of it shows in it) or one response time after a
//                      timeout (a late reply shows in it)
//   Send               the request, within its wire time plus the response time
//   Collect            the reply, past frames that do not answer it: our own
//                      request read back (local echo), a copy of the last
//                      reply taken, stale and foreign frames (ReplyFilter.h)
//                      and, on a strict line, replies with another address,
//                      command or nozzle byte (protocol::MatchReply)
//   Judge              the line's checker; on a strict line a reply that
//                      answers and refuses (result byte nonzero) leaves line
//                      state 4; a timeout or a bad reply drains what is still
//                      arriving
//   LearnTiming        when a good reply of this command is expected complete
// The exchange's counts go into a local record that is merged into the
// line's statistics once, at its end. Runs with the line's exchange lock held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "LineStatisticsRecorder.h"
#include "PortLine.h"
#include "ReplyReader.h"

namespace zarvik::port {

class LineExchange {
public:
    // The longest frame LEN can announce.
    static constexpr std::size_t kMaxReply = 255 + 5;

    LineExchange(PortLine& line, const FrameTraceHook& trace, Clock::time_point pacerNow);

    // Returns 0 when a reply came and was judged (good or bad), else the
    // line's error code; the line's state and error are set either way.
    std::int32_t Run(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
                     std::size_t expectedLength);

private:
    bool Reopen();
    bool DiscardStaleInput();
    bool Settle();
    bool ThrowAwayUntilQuiet(Clock::duration quiet, Clock::time_point limit);
    bool AwaitQuiet();
    bool Send(const std::uint8_t* frame, std::size_t frameLength);
    void Collect(const std::uint8_t* frame, std::size_t frameLength);
    std::int32_t Judge(std::uint8_t* reply, std::size_t expectedLength);
    void LearnTiming();

    ReplyLimits Limits(std::uint8_t command) const;
    bool DropStale();
    enum class Drop { None, LocalEcho, Duplicate, Stale, Foreign, Mismatched };
    Drop WhyDrop();
    bool Strict() const;
    void SkipEcho();
    std::int32_t Refused();
    void Taken();
    bool Drain();
    void Discarded(const std::uint8_t* bytes, std::size_t length);
    std::int32_t Fail(std::int32_t error);
    std::int32_t DeviceFailure();
    std::int32_t Finish(std::int32_t code);
    void Trace(FrameDirection direction, const std::uint8_t* bytes, std::size_t length) const;

    PortLine& line_;
    SerialDevice& device_;
    const FrameTraceHook& trace_;
    const Clock::time_point pacerNow_;
    LineSettings settings_;
    TReplyChecker checker_;
    TOpenHandler openHandler_;
    ExchangeRecord record_;

    std::int32_t baud_ = 9600;
    std::uint8_t command_ = 0;
    const std::uint8_t* request_ = nullptr;
    std::size_t requestLength_ = 0;
    Clock::duration requestWire_{};
    Clock::time_point sentAt_{};
    Clock::time_point doneAt_{};
    ReplyLimits limits_;
    ReplyOutcome got_;
    std::uint8_t received_[kMaxReply];
    // Bytes thrown away by the drain, searched for whole late frames.
    std::uint8_t drained_[2 * kMaxReply];
    std::size_t drainedLength_ = 0;
};

}  // namespace zarvik::port
