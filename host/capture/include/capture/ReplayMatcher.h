// Answers live requests with the replies recorded in a line capture, so a
// line recorded on a station can be replayed against the driver at a desk.
//
// Pairing, on one line of the capture: each request the host sent is paired
// with the next record of that line that was not thrown away, when that is
// a reply; when the next one is another request, the dispenser did not
// answer and the request is paired with no reply.
//
// Matching: a live request matches a recorded one with the same address,
// LEN, command and data (every byte but the start byte, the sequence number
// and the checksum). The n-th live request with those bytes gets what the
// n-th recorded one got, so a poll repeated during a delivery replays the
// delivery in order. A request the capture never saw, or one whose recorded
// matches are used up, gets no reply.
//
// Sequence number: the port service may take a well-formed reply whose
// sequence number is not its request's for a late reply to an earlier
// request and throw it away. A recorded reply that echoed its request's
// sequence number is therefore sent with the live request's number, and its
// checksum byte is changed by the same XOR: a right checksum stays right, a
// wrong one stays exactly as wrong. A reply that did not echo goes out as
// recorded, byte for byte.
//
// Not thread-safe: one endpoint thread asks it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "capture/CaptureFormat.h"

namespace zarvik::capture {

struct ReplayAnswer {
    std::vector<std::uint8_t> bytes;  // what to put on the wire
    // From the request to the complete reply in the recording (request and
    // reply wire time included).
    std::chrono::microseconds recordedTime{0};
};

struct ReplayStats {
    std::uint64_t requests = 0;       // live requests asked about
    std::uint64_t answered = 0;       // got a recorded reply
    std::uint64_t notAnswered = 0;    // matched a request the dispenser did not answer
    std::uint64_t unmatched = 0;      // no recorded request (left) with these bytes
    std::uint64_t recordedPairs = 0;  // recorded requests on the line
};

class ReplayMatcher {
public:
    ReplayMatcher(const std::vector<CaptureRecord>& records, std::uint8_t line);

    // The reply for one live request frame, or nullopt for no reply.
    std::optional<ReplayAnswer> Answer(const std::uint8_t* request, std::size_t length);

    const ReplayStats& Stats() const { return stats_; }

private:
    struct Recorded {
        std::uint8_t sequence = 0;
        std::optional<std::vector<std::uint8_t>> reply;
        std::chrono::microseconds time{0};
    };
    using Key = std::vector<std::uint8_t>;
    static std::optional<Key> KeyOf(const std::uint8_t* frame, std::size_t length);

    std::map<Key, std::deque<Recorded>> recorded_;
    ReplayStats stats_;
};

// How long the recorded dispenser waited before it began its reply: the
// recorded request-to-reply time less the wire time of both frames at
// `baud` (10 bits a byte); zero when the recording was quicker than that.
std::chrono::microseconds RecordedTurnaround(std::chrono::microseconds recordedTime, std::size_t requestBytes,
                                             std::size_t replyBytes, int baud);

// The lines that carry at least one frame in the records.
std::set<std::uint8_t> LinesIn(const std::vector<CaptureRecord>& records);

}  // namespace zarvik::capture
