#include "RequestFramer.h"

#include <algorithm>

#include "Wire.h"

namespace zarvik::sim {

void RequestFramer::Push(const std::uint8_t* bytes, std::size_t length) {
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

std::vector<std::uint8_t> RequestFramer::Take(std::size_t total) {
    std::vector<std::uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    return frame;
}

std::optional<std::size_t> RequestFramer::LaterFrame() const {
    for (std::size_t at = 1; at + wire::kFrameOverhead <= buffer_.size(); ++at) {
        if (buffer_[at] != wire::kStartByte) continue;
        const std::size_t total = static_cast<std::size_t>(buffer_[at + wire::kOffsetLen]) + wire::kFrameOverhead;
        if (at + total <= buffer_.size() && wire::IsFrame(buffer_.data() + at, total)) return at;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> RequestFramer::Next() {
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), wire::kStartByte);
        skipped_ += static_cast<std::uint64_t>(start - buffer_.begin());
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.size() <= wire::kOffsetLen) return std::nullopt;
        const std::size_t total = static_cast<std::size_t>(buffer_[wire::kOffsetLen]) + wire::kFrameOverhead;
        if (buffer_.size() < total) {
            const auto later = LaterFrame();
            if (!later) return std::nullopt;
            skipped_ += *later;
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(*later));
            continue;
        }
        if (wire::IsFrame(buffer_.data(), total)) return Take(total);
        // Not a frame after all: this start byte was noise or the head of a torn frame.
        buffer_.erase(buffer_.begin());
        ++skipped_;
    }
}

std::vector<std::vector<std::uint8_t>> RequestFramer::Flush() {
    std::vector<std::vector<std::uint8_t>> frames;
    while (!buffer_.empty()) {
        if (auto frame = Next()) {
            frames.push_back(std::move(*frame));
        } else if (!buffer_.empty()) {
            buffer_.erase(buffer_.begin());  // a candidate that will never complete
            ++skipped_;
        }
    }
    return frames;
}

}  // namespace zarvik::sim
