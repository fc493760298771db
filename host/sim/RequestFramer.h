// Cuts a byte stream from the host into request frames. Bytes before a start
// byte are skipped; a candidate whose checksum fails loses its start byte and
// the hunt goes on from the next 0x02. A candidate still waiting for bytes
// gives way to a complete well-formed frame that starts after it (a noise
// 0x02 whose LEN byte promised more than came), and Flush() drops stale
// candidates once the line has gone quiet, so noise and torn frames cost at
// most the frames they touch.
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
    // The line went quiet: every frame still in the buffer, then the rest is
    // dropped as a torn frame.
    std::vector<std::vector<std::uint8_t>> Flush();
    bool Pending() const { return !buffer_.empty(); }
    std::uint64_t SkippedBytes() const { return skipped_; }

private:
    std::optional<std::size_t> LaterFrame() const;  // offset of a complete frame after the candidate
    std::vector<std::uint8_t> Take(std::size_t total);
    std::vector<std::uint8_t> buffer_;
    std::uint64_t skipped_ = 0;
};

}  // namespace zarvik::sim
