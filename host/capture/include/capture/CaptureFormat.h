// Line captures: one pcap record per frame on a dispenser line, readable by
// Wireshark with apps/wireshark/zarvik.lua.
//
// File: classic pcap (microsecond timestamps), link type DLT_USER0 (147).
// Record data: a 2-byte pseudo-header, then the bytes exactly as they were
// on the wire (a torn or garbled reply is recorded as it came):
//   offset 0  line number, 1..32
//   offset 1  direction: 0 sent by the host (a request), 1 received by the
//             host (a reply, judged by the driver), 2 received and thrown
//             away by the port service (a stale reply or line noise)
//   offset 2  the frame bytes
// Record timestamp: when the port service handed the frame over (a request
// just before it is written, a reply once it is complete).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarvik::capture {

inline constexpr int kLinkType = 147;  // DLT_USER0
inline constexpr std::size_t kHeaderLine = 0;
inline constexpr std::size_t kHeaderDirection = 1;
inline constexpr std::size_t kHeaderSize = 2;
inline constexpr int kMinLine = 1;
inline constexpr int kMaxLine = 32;
// Longest frame a record may carry: a frame is at most 255 + 5 bytes; the
// port service may hand over up to its receive buffer.
inline constexpr std::size_t kMaxFrameBytes = 1024;

enum class Direction : std::uint8_t { Sent = 0, Received = 1, Discarded = 2 };

using Clock = std::chrono::system_clock;
using Timestamp = std::chrono::time_point<Clock, std::chrono::microseconds>;

struct CaptureRecord {
    Timestamp time{};
    std::uint8_t line = 0;
    Direction direction = Direction::Sent;
    std::vector<std::uint8_t> bytes;
};

}  // namespace zarvik::capture
