// Cuts a byte stream from the host into request frames. Bytes before a start
// byte are skipped; a candidate whose checksum fails loses its start byte and
// the hunt goes on from the next 0x02, so noise and torn frames cost at most
// the frames they touch. Holds at most one maximal frame of pending bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zarvik::sim {

class RequestFramer {
public:
    void Push(const std::uint8_t* bytes, std::size_t length);
    // The next complete well-formed frame, or nullopt when more bytes are needed.
    std::optional<std::vector<std::uint8_t>> Next();
    // Drops a partial frame (the line went quiet in the middle of one).
    void Reset();
    bool Pending() const { return !buffer_.empty(); }
    std::uint64_t SkippedBytes() const { return skipped_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::uint64_t skipped_ = 0;
};

}  // namespace zarvik::sim
