#include "LineExchange.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <tuple>
#include <utility>

#include "port/PortErrors.h"
#include "protocol/Frame.h"

namespace zarvik::port {
namespace {

// The frame's layout comes from the codec.
constexpr std::size_t kSequenceOffset = protocol::kOffsetSequence;
constexpr std::size_t kAddressOffset = protocol::kOffsetAddress;
constexpr std::size_t kLenOffset = protocol::kOffsetLen;
constexpr std::size_t kCommandOffset = protocol::kOffsetCommand;
using protocol::kFrameOverhead;
using protocol::kStartByte;
constexpr std::uint32_t kPlainCollectEvery = 16;
// A copy of a reply starts at most one reply time after it ends; this much
// more covers the far end's own scheduling.
constexpr auto kCopySlack = std::chrono::milliseconds(5);
static_assert(std::tuple_size_v<decltype(PortLine::lastReply)> >= LineExchange::kMaxReply);

}  // namespace

LineExchange::LineExchange(PortLine& line, const FrameTraceHook& trace, Clock::time_point pacerNow)
    : line_(line), device_(*line.device), trace_(trace), pacerNow_(pacerNow) {
    std::lock_guard lock(line.config);
    settings_ = line.settings;
    checker_ = line.checker;
    openHandler_ = line.openHandler;
}

std::int32_t LineExchange::Run(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
                               std::size_t expectedLength) {
    if (!Reopen()) return Finish(Fail(kErrorNotOpen));
    if (!DiscardStaleInput() || !AwaitQuiet() || !Send(frame, frameLength)) return Finish(DeviceFailure());
    Collect(frame, frameLength);
    return Finish(Judge(reply, expectedLength));
}

// A line that is closed (never opened, or lost after a device error whose
// reopen failed) gets one more attempt through the host's open handler, but
// not more often than the pacer allows: in between it fails at once.
bool LineExchange::Reopen() {
    if (line_.open.load()) return true;
    if (!openHandler_) return false;
    if (!line_.pacer.Due(pacerNow_)) {
        ++record_.opensDeferred;
        return false;
    }
    openHandler_(line_.number);
    ++record_.reopens;
    return line_.open.load();
}

// Whatever came in since the last exchange (late replies, line noise) must
// not become part of this reply.
bool LineExchange::DiscardStaleInput() {
    const long stale = device_.DiscardInput();
    if (stale < 0) return false;
    record_.bytesDiscarded += static_cast<std::uint64_t>(stale);
    if (std::exchange(line_.settlePending, false) && settings_.settleAfterOpen) return Settle();
    // Bytes still arriving (the head of a copy of the last reply, a late
    // reply) would make the rest of them the start of this reply: wait them out.
    return stale == 0 || ThrowAwayUntilQuiet(settings_.drainQuiet, device_.Now() + settings_.response);
}

// Replies owed to whoever used the line before it was opened carry sequence
// numbers this line never sent (and may carry this request's own): none of
// them may be taken for our first reply, so wait until the line is quiet.
// They teach the filter nothing.
bool LineExchange::Settle() { return ThrowAwayUntilQuiet(settings_.response, device_.Now() + 2 * settings_.response); }

bool LineExchange::ThrowAwayUntilQuiet(Clock::duration quiet, Clock::time_point limit) {
    unsigned wakeups = 0;
    const long n =
        DrainLateBytes(device_, quiet, limit, wakeups, [this](const std::uint8_t* bytes, std::size_t length) {
            Trace(FrameDirection::Discarded, bytes, length);
            record_.bytesDiscarded += length;
        });
    record_.wakeups += wakeups;
    return n >= 0;
}

// A dispenser that does not echo the sequence number gives no way to tell a
// copy of its last reply, or a reply owed to a timed-out request, from the
// answer to the next request: the next request waits until the line has been
// quiet long enough for them to have shown. After a reply: its own wire time
// plus 5 ms (a copy sent back to back, or starting up to one reply time
// later; at 9600 baud 41 ms after a status reply, 18 ms after a total). After a timeout: one response time more (a
// reply later than the response time and that one more still lands in the next exchange: the residual risk of such a
// line). Costs nothing when the host paused anyway.
bool LineExchange::AwaitQuiet() {
    const Clock::time_point until = line_.quietFrom + line_.quietFor;
    line_.quietFor = {};
    if (device_.Now() >= until) return true;
    const WaitResult w = device_.WaitReadable(until);
    ++record_.wakeups;
    if (w == WaitResult::Timeout) return true;
    if (w == WaitResult::DeviceError) return false;
    // Something came: it is thrown away until the line is quiet again.
    unsigned wakeups = 0;
    drainedLength_ = 0;
    const long n = DrainLateBytes(device_, settings_.drainQuiet, device_.Now() + settings_.response, wakeups,
                                  [this](const std::uint8_t* bytes, std::size_t length) { Discarded(bytes, length); });
    record_.wakeups += wakeups;
    for (std::size_t i = 0; i + kFrameOverhead <= drainedLength_;) {
        const std::size_t length = drained_[i + kLenOffset] + kFrameOverhead;
        if (drained_[i] == kStartByte && i + length <= drainedLength_ && IsWholeFrame(drained_ + i, length)) {
            const bool copy =
                length == line_.lastReplyLength && std::memcmp(drained_ + i, line_.lastReply.data(), length) == 0;
            ++(copy ? record_.duplicateReplies : record_.staleReplies);
            i += length;
        } else {
            ++i;
        }
    }
    return n >= 0;
}

bool LineExchange::Send(const std::uint8_t* frame, std::size_t frameLength) {
    baud_ = line_.baud.load();
    requestWire_ = WireTime(frameLength, baud_);
    Trace(FrameDirection::Sent, frame, frameLength);
    const auto deadline = device_.Now() + requestWire_ + settings_.response;
    if (device_.Write(frame, frameLength, deadline) != IoStatus::Done) return false;
    sentAt_ = device_.Now();
    record_.bytesSent += frameLength;
    return true;
}

// The request is still on the wire when write returns: the response deadline
// counts its wire time. The hard deadline bounds the whole reply, whatever
// its LEN byte claims.
ReplyLimits LineExchange::Limits(std::uint8_t command) const {
    ReplyLimits limits;
    limits.firstByteDeadline = sentAt_ + requestWire_ + settings_.response;
    limits.interByte = settings_.interByte;
    limits.hardDeadline = limits.firstByteDeadline + WireTime(kMaxReply, baud_) + settings_.interByte;
    limits.baud = baud_;
    // Only a reply that takes several byte times is worth a timed sleep (a
    // short sleep costs more than it saves where timers are coarse); the
    // margin of one byte time covers the jitter of a paced line.
    // Every kPlainCollectEvery-th exchange waits on the device as usual and
    // so measures the real reply time: an estimate that grew on a slow
    // reply comes back down at once, not by creeping.
    const Clock::duration byteTime = WireTime(1, baud_);
    const Clock::duration replyTime = line_.replyTime[command];
    const bool plain = ++line_.sincePlainCollect >= kPlainCollectEvery;
    if (plain) line_.sincePlainCollect = 0;
    if (settings_.predictReplies && !plain && replyTime >= 4 * byteTime)
        limits.expectedComplete = sentAt_ + replyTime + byteTime;
    return limits;
}

// The reply is collected whole into a frame buffer of our own, also when it
// is longer than the caller allows: a too-long reply is then judged by the
// length it really had and none of it is left on the line.
void LineExchange::Collect(const std::uint8_t* frame, std::size_t frameLength) {
    command_ = frameLength > kCommandOffset ? frame[kCommandOffset] : 0;
    request_ = frame;
    requestLength_ = frameLength;
    line_.filter.SetEnabled(settings_.discardStaleReplies);
    line_.filter.Begin(frameLength > kSequenceOffset ? frame[kSequenceOffset] : 0,
                       frameLength > kAddressOffset ? frame[kAddressOffset] : 0);
    limits_ = Limits(command_);
    if (settings_.localEcho == LocalEcho::On) SkipEcho();
    do {
        got_ = ReadReply(device_, received_, kMaxReply, limits_);
        record_.wakeups += got_.wakeups;
        record_.bytesReceived += got_.length;
    } while (DropStale());
    doneAt_ = device_.Now();
}

// A line forced to echo: the request's length of bytes read first is our own
// request coming back, whatever it holds (a damaged echo is no reply either).
void LineExchange::SkipEcho() {
    const ReplyOutcome echo = ReadReply(device_, received_, requestLength_, limits_);
    record_.wakeups += echo.wakeups;
    record_.bytesReceived += echo.length;
    if (echo.length == 0) return;
    Discarded(received_, echo.length);
    ++record_.localEchoes;
}

bool LineExchange::Strict() const { return settings_.matching == ReplyMatching::Strict && !line_.fellBack; }

// Why the whole frame just collected is not this request's answer, if it is not.
LineExchange::Drop LineExchange::WhyDrop() {
    const std::size_t length = got_.length;
    if (settings_.localEcho != LocalEcho::Off && length == requestLength_ &&
        std::memcmp(received_, request_, length) == 0)
        return Drop::LocalEcho;
    // A copy of the reply taken last carries the number of the request it
    // answered; on a line whose dispenser is not known to skip the echo
    // that number is not this request's.
    if (line_.filter.SequenceEcho() != Learnt::No && length == line_.lastReplyLength &&
        received_[kSequenceOffset] != request_[kSequenceOffset] &&
        std::memcmp(received_, line_.lastReply.data(), length) == 0)
        return Drop::Duplicate;
    const ReplyFilter::Verdict verdict = line_.filter.Classify(received_, length);
    if (line_.filter.Drops(verdict)) return verdict == ReplyFilter::Verdict::Stale ? Drop::Stale : Drop::Foreign;
    if (!Strict()) return Drop::None;
    if (protocol::MatchReply(request_, requestLength_, received_, length) == protocol::ReplyMatch::Answers) {
        line_.everMatched = true;
        return Drop::None;
    }
    ++line_.unmatched;
    if (settings_.lenientAfter > 0 && !line_.everMatched && line_.unmatched >= settings_.lenientAfter)
        line_.fellBack = true;  // from the next frame on
    return Drop::Mismatched;
}

// True when the frame just collected does not answer this request: it is
// thrown away and the wait goes on. The wire was busy with it, so the real
// reply may only start now: the wait for it is stretched, to two response
// times after the send at most.
bool LineExchange::DropStale() {
    if (got_.end != ReplyEnd::Complete || !IsWholeFrame(received_, got_.length)) return false;
    // The traffic count of each reason, in the order of Drop.
    static constexpr std::uint64_t TrafficCounts::*kCountOf[] = {
        nullptr,
        &TrafficCounts::localEchoes,
        &TrafficCounts::duplicateReplies,
        &TrafficCounts::staleReplies,
        &TrafficCounts::foreignReplies,
        &TrafficCounts::mismatchedReplies,
    };
    static_assert(std::size(kCountOf) == static_cast<std::size_t>(Drop::Mismatched) + 1);
    const Drop why = WhyDrop();
    if (why == Drop::None) return false;
    ++(record_.*kCountOf[static_cast<std::size_t>(why)]);
    Discarded(received_, got_.length);
    const auto latest = sentAt_ + 2 * settings_.response + WireTime(kMaxReply, baud_);
    limits_.firstByteDeadline =
        std::max(limits_.firstByteDeadline, std::min(device_.Now() + settings_.response, latest));
    limits_.hardDeadline = limits_.firstByteDeadline + WireTime(kMaxReply, baud_) + settings_.interByte;
    limits_.expectedComplete = {};
    return true;
}

std::int32_t LineExchange::Judge(std::uint8_t* reply, std::size_t expectedLength) {
    Trace(FrameDirection::Received, received_, got_.length);
    // The caller's buffer holds expectedLength bytes; the checker sees no more.
    const std::size_t delivered = std::min(got_.length, expectedLength);
    std::copy(received_, received_ + delivered, reply);

    if (got_.end == ReplyEnd::DeviceError) return DeviceFailure();
    if (got_.end == ReplyEnd::NoReply) {
        const std::int32_t code = Fail(kErrorTimeout);
        const Clock::time_point timedOut = device_.Now();
        if (!Drain()) return DeviceFailure();
        if (line_.filter.SequenceEcho() != Learnt::Yes) {
            line_.quietFrom = timedOut;
            line_.quietFor = settings_.response;
        }
        return code;
    }
    if (!checker_) return Fail(kErrorNoChecker);
    std::int32_t length = static_cast<std::int32_t>(delivered);
    checker_(static_cast<std::uint8_t>(line_.number), reply, length);
    const bool good =
        line_.state.load() == kLineStateGood && got_.end == ReplyEnd::Complete && delivered == got_.length;
    if (good && Strict() && protocol::RefusesRequest(request_, requestLength_, received_, got_.length))
        return Refused();
    if (good) {
        Taken();
        LearnTiming();
        record_.good = true;
        record_.latency = std::chrono::duration_cast<std::chrono::microseconds>(doneAt_ - sentAt_);
        return 0;
    }
    // Judged good on fewer bytes than came: never hand that out as good.
    Fail(line_.state.load() == kLineStateGood ? kReplyBadLength : line_.error.load());
    // The rest of a malformed reply may still be arriving.
    return Drain() ? 0 : DeviceFailure();
}

// The reply answered the request and refused it: no value of it may be
// taken, so the line state is 4, not good.
std::int32_t LineExchange::Refused() {
    Taken();
    line_.state.store(kLineStateRefused);
    line_.error.store(kErrorRefused);
    record_.error = kErrorRefused;
    ++record_.refusals;
    return 0;
}

// A reply was taken for this request: remembered, so a copy of it is known;
// on a line not known to echo sequence numbers the next request waits for a
// quiet gap after it (AwaitQuiet).
void LineExchange::Taken() {
    line_.filter.End(true);
    std::copy(received_, received_ + got_.length, line_.lastReply.begin());
    line_.lastReplyLength = got_.length;
    if (line_.filter.SequenceEcho() != Learnt::Yes) {
        line_.quietFrom = doneAt_;
        line_.quietFor = WireTime(got_.length, baud_) + kCopySlack;
    }
}

// A reply that was all there at the expected time may come sooner next time:
// creep the estimate down a little. One that had to be waited for tells the
// real time.
void LineExchange::LearnTiming() {
    Clock::duration& replyTime = line_.replyTime[command_];
    if (got_.asExpected)
        replyTime -= WireTime(1, baud_) / 4;
    else
        replyTime = doneAt_ - sentAt_;
}

// Reads until the line is quiet, so late bytes are not taken for the next
// reply. Whole frames among them still teach the filter: a late reply to
// this or an earlier request is no longer waited for.
bool LineExchange::Drain() {
    unsigned wakeups = 0;
    drainedLength_ = 0;
    const long n = DrainLateBytes(device_, settings_.drainQuiet, device_.Now() + settings_.response, wakeups,
                                  [this](const std::uint8_t* bytes, std::size_t length) { Discarded(bytes, length); });
    record_.wakeups += wakeups;
    bool answered = false;
    for (std::size_t i = 0; i + kFrameOverhead <= drainedLength_;) {
        const std::size_t length = drained_[i + kLenOffset] + kFrameOverhead;
        if (drained_[i] == kStartByte && i + length <= drainedLength_ && IsWholeFrame(drained_ + i, length)) {
            if (line_.filter.Classify(drained_ + i, length) == ReplyFilter::Verdict::Current) answered = true;
            i += length;
        } else {
            ++i;
        }
    }
    line_.filter.End(answered);
    return n >= 0;
}

void LineExchange::Discarded(const std::uint8_t* bytes, std::size_t length) {
    Trace(FrameDirection::Discarded, bytes, length);
    record_.bytesDiscarded += length;
    const std::size_t room = sizeof drained_ - drainedLength_;
    const std::size_t kept = std::min(room, length);
    std::copy(bytes, bytes + kept, drained_ + drainedLength_);
    drainedLength_ += kept;
}

std::int32_t LineExchange::Fail(std::int32_t error) {
    line_.state.store(kLineStateBad);
    line_.error.store(error);
    if (record_.error == 0) record_.error = error;
    return error;
}

// The device failed: the line is closed and reopened through the host's
// open handler; the cause stays with the line.
std::int32_t LineExchange::DeviceFailure() {
    Fail(kErrorDevice);
    line_.SetFault(device_.LastFault());
    line_.Close();
    if (openHandler_) {
        openHandler_(line_.number);
        ++record_.reopens;
    }
    return kErrorDevice;
}

std::int32_t LineExchange::Finish(std::int32_t code) {
    record_.sequenceEcho = line_.filter.SequenceEcho();
    record_.addressEcho = line_.filter.AddressEcho();
    record_.filtering = settings_.discardStaleReplies && record_.sequenceEcho != Learnt::No;
    record_.strict = Strict();
    record_.fellBack = line_.fellBack;
    record_.localEcho = LocalEchoName(settings_.localEcho);
    std::lock_guard lock(line_.config);
    line_.stats.Record(record_);
    return code;
}

void LineExchange::Trace(FrameDirection direction, const std::uint8_t* bytes, std::size_t length) const {
    if (!trace_ || length == 0) return;
    trace_(FrameTraceEvent{std::chrono::system_clock::now(), line_.number, direction, {bytes, length}});
}

}  // namespace zarvik::port
