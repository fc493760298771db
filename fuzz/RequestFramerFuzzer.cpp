// The simulator's request framing on any byte stream from a host.
//
// Input byte 0 picks the mode. Raw (bit 0 clear): the rest arrives in chunks
// whose sizes the stream's own bytes choose, with frames taken after each
// chunk and the quiet-line flush now and then (bit 1) and at the end.
// Framed (bit 0 set): the rest is cut into request frames, each sent whole
// after noise without a start byte, in pushes of whole frames.
//
// Checked besides memory safety: every frame handed out is a well-formed
// frame (start byte, LEN, checksum); every byte pushed is handed out in a
// frame or counted as skipped, none twice; and whole frames among noise
// without a start byte all come out, in order, unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "RequestFramer.h"
#include "Wire.h"

namespace {

using zarvik::sim::RequestFramer;
namespace wire = zarvik::sim::wire;
using Bytes = std::vector<std::uint8_t>;

void Require(bool condition) {
    if (!condition) std::abort();
}

void Take(RequestFramer& framer, std::vector<Bytes>& out) {
    while (auto frame = framer.Next()) out.push_back(std::move(*frame));
}

void CheckFrames(const std::vector<Bytes>& frames) {
    for (const Bytes& f : frames) Require(wire::IsFrame(f.data(), f.size()));
}

std::size_t Total(const std::vector<Bytes>& frames) {
    std::size_t n = 0;
    for (const Bytes& f : frames) n += f.size();
    return n;
}

void Raw(const std::uint8_t* data, std::size_t size, bool flushes) {
    RequestFramer framer;
    std::vector<Bytes> frames;
    std::size_t at = 0, pushed = 0;
    while (at < size) {
        const std::size_t chunk = std::min<std::size_t>(size - at, 1 + data[at] % 64);
        framer.Push(data + at, chunk);
        pushed += chunk;
        at += chunk;
        Take(framer, frames);
        if (flushes && at < size && (data[at - 1] & 0x0F) == 0) {
            for (auto& f : framer.Flush()) frames.push_back(std::move(f));
            Require(!framer.Pending());
        }
    }
    for (auto& f : framer.Flush()) frames.push_back(std::move(f));
    Require(!framer.Pending());
    CheckFrames(frames);
    Require(Total(frames) + framer.SkippedBytes() == pushed);
}

// Noise bytes (never 0x02), then a frame of the next request: sequence,
// address, LEN data bytes (LEN from the input, cut to what is left).
void Framed(const std::uint8_t* data, std::size_t size) {
    RequestFramer framer;
    std::vector<Bytes> sent, frames;
    std::size_t at = 0, pushed = 0;
    Bytes push;
    while (at + 4 <= size) {
        const std::size_t noise = data[at++] % 4;
        for (std::size_t i = 0; i < noise && at < size; ++i) {
            const std::uint8_t b = data[at++];
            push.push_back(b == wire::kStartByte ? 0 : b);
        }
        if (at + 3 > size) break;
        Bytes frame{wire::kStartByte, data[at], data[at + 1]};
        const std::size_t len = std::min<std::size_t>(data[at + 2], size - at - 3);
        at += 3;
        frame.push_back(static_cast<std::uint8_t>(len));
        frame.insert(frame.end(), data + at, data + at + len);
        at += len;
        frame.push_back(wire::Xor(frame.data(), wire::kOffsetSequence, frame.size() - 1));
        push.insert(push.end(), frame.begin(), frame.end());
        sent.push_back(std::move(frame));
        // Whole units go out together now and then.
        if (len % 3 == 0) {
            framer.Push(push.data(), push.size());
            pushed += push.size();
            push.clear();
            Take(framer, frames);
        }
    }
    framer.Push(push.data(), push.size());
    pushed += push.size();
    Take(framer, frames);
    for (auto& f : framer.Flush()) frames.push_back(std::move(f));
    CheckFrames(frames);
    Require(frames == sent);
    Require(Total(frames) + framer.SkippedBytes() == pushed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] & 1)
        Framed(data + 1, size - 1);
    else
        Raw(data + 1, size - 1, (data[0] & 2) != 0);
    return 0;
}
