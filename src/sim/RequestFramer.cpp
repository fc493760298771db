#include "sim/RequestFramer.h"

#include <algorithm>

#include "sim/Wire.h"

namespace zarvik::sim {

void RequestFramer::Push(const std::uint8_t* bytes, std::size_t length) {
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

std::optional<std::vector<std::uint8_t>> RequestFramer::Next() {
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), wire::kStartByte);
        skipped_ += static_cast<std::uint64_t>(start - buffer_.begin());
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.size() <= wire::kOffsetLen) return std::nullopt;
        const std::size_t total = static_cast<std::size_t>(buffer_[wire::kOffsetLen]) + wire::kFrameOverhead;
        if (buffer_.size() < total) return std::nullopt;
        if (wire::IsFrame(buffer_.data(), total)) {
            std::vector<std::uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
            return frame;
        }
        // Not a frame after all: this start byte was noise or the head of a torn frame.
        buffer_.erase(buffer_.begin());
        ++skipped_;
    }
}

void RequestFramer::Reset() {
    skipped_ += buffer_.size();
    buffer_.clear();
}

}  // namespace zarvik::sim
