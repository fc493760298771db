// Collects one reply frame from a terminal.
//
// The reply is complete at LEN + 5 bytes once byte 3 (LEN) has arrived, or
// at the capacity (the longest reply the caller allows), whichever is less;
// a variable reply is never waited for up to the capacity. Reading stops
// early at the response deadline (no first byte), at an inter-byte gap, or
// at the hard deadline that bounds the whole reply whatever LEN says.
//
// Wake-ups are few: after each wake-up everything available is read, and
// when more bytes are due the reader sleeps for about the time they need at
// the line's rate instead of waking for every byte. With an expected
// completion time a regular reply costs a single wake-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "port/SerialDevice.h"
#include "protocol/Frame.h"

namespace zarvik::port {

struct ReplyLimits {
    Clock::time_point firstByteDeadline;  // the response deadline
    Clock::duration interByte;            // longest quiet gap inside a reply
    Clock::time_point hardDeadline;       // never read past this
    std::int32_t baud = 9600;             // pacing estimate for the batching sleeps
    // When the whole reply is expected, if the line's history tells (zero
    // when unknown): the reader sleeps until then and takes the reply with
    // one wake-up, falling back to waiting on the descriptor for what is
    // still missing.
    Clock::time_point expectedComplete{};
};

enum class ReplyEnd {
    Complete,     // LEN + 5 bytes (or capacity) received
    NoReply,      // nothing before the response deadline
    Gap,          // some bytes, then an inter-byte gap or the hard deadline
    DeviceError,  // read failed, end of file or hang-up
};

struct ReplyOutcome {
    ReplyEnd end = ReplyEnd::NoReply;
    std::size_t length = 0;   // bytes stored in the buffer
    unsigned wakeups = 0;     // returns from poll or a batching sleep
    bool asExpected = false;  // complete at the first read after the expected-completion sleep
    Clock::time_point firstByteAt{};
};

// Bytes the reply needs in all, given the first `got` bytes of it.
constexpr std::size_t ReplyTarget(const std::uint8_t* buffer, std::size_t got, std::size_t capacity) {
    if (got <= protocol::kOffsetLen) return capacity;
    const std::size_t framed = static_cast<std::size_t>(buffer[protocol::kOffsetLen]) + protocol::kFrameOverhead;
    return framed < capacity ? framed : capacity;
}

// True for a whole frame: start byte 0x02, LEN + 5 bytes, XOR checksum right
// (the codec's reply check).
using protocol::IsWholeFrame;

ReplyOutcome ReadReply(SerialDevice& device, std::uint8_t* buffer, std::size_t capacity, const ReplyLimits& limits);

// Reads and throws away bytes until the line has been quiet for `quiet` or
// the limit passes; `seen` (may be empty) gets each batch thrown away.
// Returns the number thrown away, or -1 on a device failure.
long DrainLateBytes(SerialDevice& device, Clock::duration quiet, Clock::time_point limit, unsigned& wakeups,
                    const std::function<void(const std::uint8_t*, std::size_t)>& seen);

}  // namespace zarvik::port
