// Reply decoders: the golden replies decode to their values; a reply too
// short for its layout, or not whole, decodes to nothing; and no decoder
// reads a byte at or past the received length (sentinels past the end).
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Replies.h"
#include "support/FakePortManager.h"
#include "support/GoldenFrames.h"

namespace zarvik::protocol {

void PrintTo(const StatusReply& s, std::ostream* os) {
    *os << "{volume " << s.volume << ", money " << s.money << ", code " << int{s.code} << ", flags " << int{s.flags}
        << "}";
}
void PrintTo(const NameBytes& n, std::ostream* os) { *os << '"' << testing::Hex({n.bytes, n.bytes + n.length}) << '"'; }
void PrintTo(const TableReply& t, std::ostream* os) {
    PrintTo(t.name, os);
    *os << " rows " << t.rows << " fields " << int{t.fields};
}
void PrintTo(const FieldReply& f, std::ostream* os) {
    PrintTo(f.name, os);
    *os << " type " << int{f.type} << " width " << int{f.width} << " limits " << f.low << ".." << f.high;
}

namespace {

namespace golden = testing::golden;
using Bytes = std::vector<std::uint8_t>;

// Runs `decode` on the first `length` bytes of `frame`, with every byte past
// them a sentinel: first the bytes `past` holds there (a plausible rest of a
// reply), then their complement. A decoder that read past the received length
// would see the two differ.
template <typename Decode>
auto Bounded(Decode decode, const Bytes& frame, std::size_t length, const Bytes& past) {
    Bytes plausible(std::max(frame.size(), past.size()) + 16, 0x5A);
    std::copy(past.begin(), past.end(), plausible.begin());
    std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(std::min(length, frame.size())),
              plausible.begin());
    Bytes inverted = plausible;
    for (std::size_t i = length; i < inverted.size(); ++i) inverted[i] = static_cast<std::uint8_t>(~inverted[i]);
    const auto first = decode(plausible.data(), length);
    EXPECT_EQ(first, decode(inverted.data(), length)) << "read past the received length " << length;
    return first;
}

// The golden reply cut to LEN `len`: a whole frame of len + 5 bytes (checksum
// recomputed); the golden bytes stay past its end as sentinels.
Bytes WithLen(const Bytes& reply, std::uint8_t len) {
    Bytes cut(reply.begin(), reply.begin() + std::min<std::size_t>(reply.size(), len + 4));
    cut.resize(len + 4u, 0);
    cut[kOffsetLen] = len;
    cut.push_back(Xor(cut.data(), kOffsetSequence, cut.size() - 1));
    return cut;
}

TEST(GoldenReplies, AreWholeFramesTheReplyCheckAccepts) {
    for (const golden::Exchange* e : golden::kAll) {
        EXPECT_TRUE(IsWholeFrame(e->reply.data(), e->reply.size())) << e->name;
        EXPECT_TRUE(IsWholeFrame(e->request.data(), e->request.size())) << e->name;
    }
}

TEST(DecodeStatusReply, GoldenReplyGivesCountersCodeAndFlags) {
    const Bytes& r = golden::kStatusFinished.reply;
    EXPECT_EQ(Bounded(DecodeStatusReply, r, r.size(), r), (StatusReply{10000, 45670, 10, kFlagLifted}));
}

// Each case: the golden reply cut to a LEN, decoded with its sentinels.
struct LenCase {
    std::uint8_t len;
    bool decodes;
};

TEST(DecodeStatusReply, NeedsTheDataUpToTheFlagsByte) {
    const Bytes& r = golden::kStatusFinished.reply;
    for (const LenCase c : {LenCase{30, true}, {29, true}, {28, false}, {4, false}, {0, false}}) {
        const Bytes cut = WithLen(r, c.len);
        EXPECT_EQ(Bounded(DecodeStatusReply, cut, cut.size(), r).has_value(), c.decodes) << "LEN " << int{c.len};
    }
}

TEST(DecodeResult, ReadsByteFiveOfReplyWithLenTwoOrMore) {
    EXPECT_EQ(Bounded(DecodeResult, golden::kStartRefused.reply, 8, golden::kStartRefused.reply), 1);
    EXPECT_EQ(Bounded(DecodeResult, golden::kStop.reply, 8, golden::kStop.reply), kResultTaken);
    EXPECT_EQ(Bounded(DecodeResult, golden::kWriteCoefficient.reply, 7, golden::kWriteCoefficient.reply), kResultTaken);
    EXPECT_EQ(Bounded(DecodeResult, golden::kWriteOutOfLimits.reply, 7, golden::kWriteOutOfLimits.reply), 4);
    const Bytes& r = golden::kStartRefused.reply;
    for (const LenCase c : {LenCase{2, true}, {1, false}, {0, false}}) {
        const Bytes cut = WithLen(r, c.len);
        EXPECT_EQ(Bounded(DecodeResult, cut, cut.size(), r).has_value(), c.decodes) << "LEN " << int{c.len};
    }
}

TEST(DecodeTotalReply, ReadsTheCounterOfLenSevenOrMore) {
    const Bytes& r = golden::kTotal.reply;
    EXPECT_EQ(Bounded(DecodeTotalReply, r, r.size(), r), 123456u);
    for (const LenCase c : {LenCase{7, true}, {6, false}, {2, false}}) {
        const Bytes cut = WithLen(r, c.len);
        EXPECT_EQ(Bounded(DecodeTotalReply, cut, cut.size(), r).has_value(), c.decodes) << "LEN " << int{c.len};
    }
}

TEST(DecodeParameterReply, ValueFillsLenMinusTwoBytesFromByteSix) {
    struct Case {
        const char* name;
        Bytes reply;
        std::optional<std::uint32_t> value;
    };
    const Bytes& serial = golden::kReadSerial.reply;  // 8B 87 01 00 from byte 6
    const Case cases[] = {
        {"golden, 2 bytes", golden::kReadCoefficient.reply, 0xFF9Cu},
        {"golden, 4 bytes", serial, 100235u},
        {"LEN 3: byte 6 alone", WithLen(serial, 3), 0x8Bu},
        {"LEN 5: three bytes", WithLen(serial, 5), 0x01878Bu},
        {"LEN 2: no value", WithLen(serial, 2), std::nullopt},
        {"LEN 7: wider than 32 bits", WithLen(Bytes(serial.begin(), serial.end() - 1), 7), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bounded(DecodeParameterReply, c.reply, c.reply.size(), serial), c.value) << c.name;
}

NameBytes Name(const std::string& bytes) {
    NameBytes name;
    name.length = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), name.bytes);
    return name;
}

TEST(DecodeTableReply, GoldenReplyGivesNameRowsAndFields) {
    const Bytes& r = golden::kTableInfo.reply;
    EXPECT_EQ(Bounded(DecodeTableReply, r, r.size(), r),
              (TableReply{Name("\xD1\xE5\xF0\xE2\xE8\xF1\xED\xFB\xE5 \xEF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB"), 1, 3}));
}

TEST(DecodeTableReply, NeedsLenFortyFourAndTheFieldCount) {
    const Bytes& r = golden::kTableInfo.reply;
    // LEN 44 passes the threshold but ends before byte 48, the field count.
    for (const LenCase c : {LenCase{45, true}, {44, false}, {43, false}, {0, false}}) {
        const Bytes cut = WithLen(r, c.len);
        EXPECT_EQ(Bounded(DecodeTableReply, cut, cut.size(), r).has_value(), c.decodes) << "LEN " << int{c.len};
    }
}

TEST(DecodeFieldReply, GoldenRepliesGiveNameTypeWidthAndZeroExtendedLimits) {
    const Bytes& two = golden::kFieldInfo.reply;
    EXPECT_EQ(Bounded(DecodeFieldReply, two, two.size(), two),
              (FieldReply{Name("\xCF\xEE\xEF\xF0\xE0\xE2\xEE\xF7\xED\xFB\xE9 "
                               "\xEA\xEE\xFD\xF4\xF4\xE8\xF6\xE8\xE5\xED\xF2"),
                          1, 2, 0, 0xFFFF}));
    const Bytes& four = golden::kFieldInfoWide.reply;
    EXPECT_EQ(Bounded(DecodeFieldReply, four, four.size(), four),
              (FieldReply{Name("\xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9 \xED\xEE\xEC\xE5\xF0"), 0, 4, 0, 0xFFFFFFFF}));
}

// A field reply of the given width, LEN 44 + 2w, limits low then high.
Bytes FieldFrame(std::uint8_t width, std::uint8_t lowByte, std::uint8_t highByte, char nameByte = 'N',
                 std::size_t nameLength = 3) {
    std::vector<std::uint8_t> data(44u + 2u * width, 0);
    data[0] = kCmdFieldInfo;
    for (std::size_t i = 0; i < nameLength; ++i) data[kDescriptionName - 4 + i] = static_cast<std::uint8_t>(nameByte);
    data[kFieldWidth - 4] = width;
    if (width > 0) {
        data[kFieldLimits - 4] = lowByte;
        data[kFieldLimits - 4 + width] = highByte;
    }
    return testing::Frame(1, data);
}

TEST(DecodeFieldReply, WidthDecidesWhatTheReplyMustCarry) {
    struct Case {
        const char* name;
        Bytes reply;
        bool decodes;
        std::uint32_t low;
    };
    const Bytes two = FieldFrame(2, 0x34, 0x56);
    const Case cases[] = {
        {"width 1, low byte 9D is 157", FieldFrame(1, 0x9D, 0x10), true, 157},
        {"width 0: no limits, LEN 44", FieldFrame(0, 0, 0), true, 0},
        {"width 2, LEN 48", two, true, 0x34},
        {"width 2, LEN 47: high limit cut", WithLen(two, 47), false, 0},
        {"width 2, LEN 43: under the threshold", WithLen(two, 43), false, 0},
        {"width 5: wider than 32 bits", FieldFrame(5, 1, 2), false, 0},
    };
    for (const auto& c : cases) {
        const auto field = Bounded(DecodeFieldReply, c.reply, c.reply.size(), two);
        EXPECT_EQ(field.has_value(), c.decodes) << c.name;
        if (field) {
            EXPECT_EQ(field->low, c.low) << c.name;
        }
    }
}

TEST(DecodeFieldReply, NameEndsAtTheFirstZeroOrAfterFortyBytes) {
    const Bytes empty = FieldFrame(1, 0, 0, 'x', 0);
    EXPECT_EQ(Bounded(DecodeFieldReply, empty, empty.size(), empty)->name.length, 0);
    const Bytes full = FieldFrame(1, 0, 0, 'x', 40);  // byte 46 (the type) follows at once
    const auto field = Bounded(DecodeFieldReply, full, full.size(), full);
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(field->name.view(), std::string(40, 'x'));
}

// Every decoder refuses bytes that are not one whole frame by length: one
// byte short, one byte over, nothing at all.
TEST(Decoders, RefuseALengthThatIsNotLenPlusFive) {
    for (const golden::Exchange* e : golden::kAll) {
        const Bytes& r = e->reply;
        for (const std::size_t length : {r.size() - 1, r.size() + 1, std::size_t{0}, std::size_t{3}}) {
            EXPECT_FALSE(Bounded(DecodeStatusReply, r, length, r)) << e->name << " " << length;
            EXPECT_FALSE(Bounded(DecodeResult, r, length, r)) << e->name << " " << length;
            EXPECT_FALSE(Bounded(DecodeTotalReply, r, length, r)) << e->name << " " << length;
            EXPECT_FALSE(Bounded(DecodeParameterReply, r, length, r)) << e->name << " " << length;
            EXPECT_FALSE(Bounded(DecodeTableReply, r, length, r)) << e->name << " " << length;
            EXPECT_FALSE(Bounded(DecodeFieldReply, r, length, r)) << e->name << " " << length;
        }
    }
}

TEST(Decoders, TakeTheJudgedLengthOfACommandsBuffer) {
    // A command's buffer of the expected length: the reply from its first
    // byte, the rest as the exchange left it.
    Bytes buffer(kStatusReplyLength, 0);
    const Bytes& r = golden::kStatusFinished.reply;
    std::copy(r.begin(), r.end(), buffer.begin());
    EXPECT_TRUE(DecodeStatusReply(buffer.data(), JudgedLength(buffer.data(), buffer.size())).has_value());
    buffer[kOffsetLen] = 31;  // announces 36 bytes in a 35-byte buffer
    EXPECT_FALSE(DecodeStatusReply(buffer.data(), JudgedLength(buffer.data(), buffer.size())).has_value());
}

}  // namespace
}  // namespace zarvik::protocol
