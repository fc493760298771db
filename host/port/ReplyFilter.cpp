#include "ReplyFilter.h"

#include <algorithm>

#include "protocol/Frame.h"

namespace zarvik::port {
namespace {

using protocol::kOffsetAddress;
using protocol::kOffsetSequence;

}  // namespace

void ReplyFilter::Evidence::Settle() {
    if (sawEcho) {
        ++echoes;
        foreign = 0;
        if ((learnt == Learnt::Unknown && echoes >= kTrustAfter) || (learnt == Learnt::No && echoes >= kRetrustAfter))
            learnt = Learnt::Yes;
    } else if (sawForeign) {
        ++foreign;
        echoes = 0;
        if (foreign >= kFallBackAfter) learnt = Learnt::No;
    }
    sawEcho = sawForeign = false;
}

void ReplyFilter::Begin(std::uint8_t sequence, std::uint8_t address) {
    history_[next_ % kHistory] = Request{next_, sequence, address, true};
    ++next_;
    sequence_.sawEcho = sequence_.sawForeign = false;
    address_.sawEcho = address_.sawForeign = false;
}

ReplyFilter::Request* ReplyFilter::OldestUnanswered(std::uint8_t sequence, std::uint8_t address) {
    const std::uint64_t current = next_ - 1;
    std::uint64_t from = current >= kHistory - 1 ? current - (kHistory - 1) : 0;
    // Beyond one turn of the counter a number is ambiguous: search that far
    // back only while the dispenser is known to be that far behind.
    if (current >= behindUntil_ && current > kSequenceSpan) from = std::max(from, current - kSequenceSpan);
    from = std::max(from, answeredUpTo_);
    for (std::uint64_t i = from; i < current; ++i) {
        Request& r = history_[i % kHistory];
        if (r.index != i || !r.pending || r.sequence != sequence) continue;
        if (address_.learnt == Learnt::Yes && r.address != address) continue;
        return &r;
    }
    return nullptr;
}

ReplyFilter::Verdict ReplyFilter::Classify(const std::uint8_t* frame, std::size_t length) {
    if (next_ == 0 || length <= kOffsetAddress) return Verdict::Foreign;
    const std::uint8_t sequence = frame[kOffsetSequence];
    const std::uint8_t address = frame[kOffsetAddress];
    Request& current = Current();
    if (sequence_.learnt == Learnt::No) {
        (sequence == current.sequence ? sequence_.sawEcho : sequence_.sawForeign) = true;
        return Verdict::Current;
    }
    if (Request* earlier = OldestUnanswered(sequence, address)) {
        earlier->pending = false;
        answeredUpTo_ = earlier->index + 1;
        behindUntil_ = current.index + kSequenceSpan;
        sequence_.sawEcho = true;
        return Verdict::Stale;
    }
    if (sequence != current.sequence) {
        sequence_.sawForeign = true;
        return Verdict::Foreign;
    }
    sequence_.sawEcho = true;
    if (address == current.address) {
        address_.sawEcho = true;
        return Verdict::Current;
    }
    address_.sawForeign = true;
    return address_.learnt == Learnt::Yes ? Verdict::Foreign : Verdict::Current;
}

bool ReplyFilter::Drops(Verdict verdict) const {
    if (!enabled_ || sequence_.learnt == Learnt::No) return false;
    switch (verdict) {
        case Verdict::Stale:
            return true;
        case Verdict::Foreign:
            return sequence_.learnt == Learnt::Yes || address_.learnt == Learnt::Yes;
        case Verdict::Current:
            break;
    }
    return false;
}

void ReplyFilter::End(bool answered) {
    if (next_ == 0) return;
    Request& current = Current();
    if (answered) {
        current.pending = false;
        answeredUpTo_ = current.index + 1;
    }
    sequence_.Settle();
    address_.Settle();
}

}  // namespace zarvik::port
