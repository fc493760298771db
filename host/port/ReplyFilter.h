// The stale-reply filter of one line: tells a reply to the current request
// from a late reply to an earlier one, and learns how the line's dispenser
// marks its replies.
//
// Every request is remembered (sequence number, bus address, answered or
// not) for the last kHistory requests. A dispenser answers in order, so a
// whole frame is matched to the oldest still-unanswered request after the
// last one it answered:
//   Stale   - it carries the number (and, once learnt, the address) of an
//             earlier request of this line that went unanswered (timed out,
//             judged bad, lost to a device error): it answers that request,
//             which is then no longer waited for. Dropped, also before the
//             line has learnt anything.
//   Current - it carries this request's number (and address, once learnt).
//   Foreign - neither. A dispenser that echoes never sends one, so these are
//             evidence that it does not: dropped once echoing is learnt,
//             taken as the reply while nothing is known.
// Requests older than 255 exchanges are only matched while the dispenser has
// recently shown it is that far behind, so a line that lost replies for a
// while never takes a fresh reply for a request it will never answer.
//
// Learning, per line: kTrustAfter consecutive exchanges whose reply echoed
// the number (a stale match counts) make it "yes"; kFallBackAfter consecutive
// exchanges with foreign replies and no echo make it "no": the line then
// works unfiltered (every reply is Current) and says so in its statistics.
// kRetrustAfter consecutive echoes turn "no" back into "yes". The address is
// learnt the same way from replies that carry the request's number.
//
// Not thread-safe: used under the line's exchange lock. Allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "port/LineStatistics.h"

namespace zarvik::port {

class ReplyFilter {
public:
    static constexpr int kTrustAfter = 4;
    static constexpr int kFallBackAfter = 3;
    static constexpr int kRetrustAfter = 8;
    static constexpr std::size_t kHistory = 1024;
    static constexpr std::uint64_t kSequenceSpan = 255;  // requests before a number repeats

    enum class Verdict { Current, Stale, Foreign };

    // A new request is on its way.
    void Begin(std::uint8_t sequence, std::uint8_t address);
    // Classifies one whole frame received while the current request is out
    // (or in the drain after it). A Stale frame answers its request.
    Verdict Classify(const std::uint8_t* frame, std::size_t length);
    // True when a frame of this verdict is thrown away and waited past.
    bool Drops(Verdict verdict) const;
    // The end of the exchange; answered: a reply was taken as good for it.
    void End(bool answered);

    Learnt SequenceEcho() const { return sequence_.learnt; }
    Learnt AddressEcho() const { return address_.learnt; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

private:
    struct Request {
        std::uint64_t index = 0;
        std::uint8_t sequence = 0;
        std::uint8_t address = 0;
        bool pending = false;
    };
    struct Evidence {
        Learnt learnt = Learnt::Unknown;
        int echoes = 0;   // consecutive exchanges with an echo
        int foreign = 0;  // consecutive exchanges with foreign replies and no echo
        bool sawEcho = false;
        bool sawForeign = false;
        void Settle();
    };

    Request& Current() { return history_[(next_ - 1) % kHistory]; }
    Request* OldestUnanswered(std::uint8_t sequence, std::uint8_t address);

    std::array<Request, kHistory> history_{};
    std::uint64_t next_ = 0;          // index of the next request
    std::uint64_t answeredUpTo_ = 0;  // requests before this index are answered or passed
    std::uint64_t behindUntil_ = 0;   // the whole history is searched before this index
    Evidence sequence_;
    Evidence address_;
    bool enabled_ = true;
};

}  // namespace zarvik::port
