#include "capture/ReplayMatcher.h"

namespace zarvik::capture {

namespace {

// Frame layout: 0 start byte | 1 sequence | 2 address | 3 LEN | 4.. LEN data bytes | XOR of bytes 1..LEN+3.
constexpr std::size_t kOffsetSequence = 1;
constexpr std::size_t kOffsetAddress = 2;
constexpr std::size_t kOffsetLen = 3;
constexpr std::size_t kFrameOverhead = 5;

}  // namespace

std::optional<ReplayMatcher::Key> ReplayMatcher::KeyOf(const std::uint8_t* frame, std::size_t length) {
    if (length < kFrameOverhead) return std::nullopt;
    // Address, LEN, command and data: all but the start byte, the sequence number and the checksum.
    return Key(frame + kOffsetAddress, frame + length - 1);
}

ReplayMatcher::ReplayMatcher(const std::vector<CaptureRecord>& records, std::uint8_t line) {
    const CaptureRecord* request = nullptr;
    const auto pair = [&](const CaptureRecord* reply) {
        if (request == nullptr) return;
        if (auto key = KeyOf(request->bytes.data(), request->bytes.size())) {
            Recorded r;
            r.sequence = request->bytes[kOffsetSequence];
            if (reply != nullptr) {
                r.reply = reply->bytes;
                r.time = reply->time - request->time;
            }
            recorded_[std::move(*key)].push_back(std::move(r));
            ++stats_.recordedPairs;
        }
        request = nullptr;
    };
    for (const CaptureRecord& record : records) {
        if (record.line != line || record.direction == Direction::Discarded) continue;
        if (record.direction == Direction::Sent) {
            pair(nullptr);  // the previous request, if any, had no reply
            request = &record;
        } else {
            pair(&record);  // a reply with no request before it pairs with nothing
        }
    }
    pair(nullptr);
}

std::optional<ReplayAnswer> ReplayMatcher::Answer(const std::uint8_t* request, std::size_t length) {
    ++stats_.requests;
    const auto key = KeyOf(request, length);
    const auto it = key ? recorded_.find(*key) : recorded_.end();
    if (it == recorded_.end() || it->second.empty()) {
        ++stats_.unmatched;
        return std::nullopt;
    }
    Recorded r = std::move(it->second.front());
    it->second.pop_front();
    if (!r.reply) {
        ++stats_.notAnswered;
        return std::nullopt;
    }
    ReplayAnswer answer{std::move(*r.reply), r.time};
    auto& bytes = answer.bytes;
    const std::uint8_t live = request[kOffsetSequence];
    if (bytes.size() > kOffsetSequence && bytes[kOffsetSequence] == r.sequence) {
        const std::uint8_t change = r.sequence ^ live;
        bytes[kOffsetSequence] = live;
        // The last byte is the checksum only when the reply is as long as its LEN says.
        if (bytes.size() > kOffsetLen && bytes.size() == bytes[kOffsetLen] + kFrameOverhead) bytes.back() ^= change;
    }
    ++stats_.answered;
    return answer;
}

std::chrono::microseconds RecordedTurnaround(std::chrono::microseconds recordedTime, std::size_t requestBytes,
                                             std::size_t replyBytes, int baud) {
    constexpr long long kBitsPerByte = 10;
    const auto wire =
        std::chrono::microseconds(static_cast<long long>(requestBytes + replyBytes) * kBitsPerByte * 1'000'000 / baud);
    return recordedTime > wire ? recordedTime - wire : std::chrono::microseconds(0);
}

std::set<std::uint8_t> LinesIn(const std::vector<CaptureRecord>& records) {
    std::set<std::uint8_t> lines;
    for (const CaptureRecord& record : records) lines.insert(record.line);
    return lines;
}

}  // namespace zarvik::capture
