// Cutting the host's byte stream into request frames, with noise and torn frames.
#include <gtest/gtest.h>

#include "RequestFramer.h"
#include "SimTestSupport.h"

namespace zarvik::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::Hex;

const Bytes kA = Frame(1, {0x01, 0x9F, 0x00});
const Bytes kB = Frame(2, {0x02, 0x1F, 0x02, 0x03, 0x00, 0x15});

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> frames;  // expected before the line goes quiet
};

class Framer : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Framer, FindsTheFramesInTheStream) {
    // Whole stream at once, then byte by byte: the same frames either way.
    for (const bool byteWise : {false, true}) {
        RequestFramer framer;
        std::vector<Bytes> got;
        const Bytes& s = GetParam().stream;
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t n = byteWise ? 1 : s.size();
            framer.Push(s.data() + i, n);
            i += n;
            while (auto f = framer.Next()) got.push_back(*f);
        }
        ASSERT_EQ(got.size(), GetParam().frames.size()) << (byteWise ? "byte-wise" : "whole");
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Hex(got[i]), Hex(GetParam().frames[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Framer,
    ::testing::Values(StreamCase{"TwoFrames", Cat({kA, kB}), {kA, kB}},
                      StreamCase{"NoiseBefore", Cat({{0x55, 0xFF, 0x00}, kA}), {kA}},
                      StreamCase{"NoiseStartByteWithLongLen", Cat({{0x02, 0x99, 0x02}, kA}), {kA}},
                      StreamCase{"CorruptFrameThenGood", Cat({{0x02, 0x00, 0x01, 0x02, 0x9F, 0x00, 0x00}, kB}), {kB}},
                      StreamCase{"TornFrameThenGood", Cat({Bytes(kB.begin(), kB.begin() + 5), kA}), {kA}},
                      StreamCase{"OnlyGarbage", Bytes{0x02, 0x02, 0x02, 0x00, 0x01}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FramerFlush, HandsOverCompleteFramesAndDropsTheTornRest) {
    RequestFramer framer;
    const Bytes s = Cat({{0x02, 0x00, 0x01, 0x30}, kA});  // a stray frame head promising 53 bytes
    framer.Push(s.data(), s.size());
    const auto frames = framer.Flush();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Hex(frames[0]), Hex(kA));
    EXPECT_FALSE(framer.Pending());
    EXPECT_EQ(framer.SkippedBytes(), 4u);
}

}  // namespace
}  // namespace zarvik::sim
