// Fault injection: each mode changes the reply the way it says, only as often
// as it is told to, and refusals leave the station untouched.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "Wire.h"
#include "sim/Station.h"

namespace zarvik::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::Hex;

const Bytes kStatus = Frame(0, {0x01, 0x9F, 0x00});

std::optional<Reply> Ask(Station& station, const Bytes& request) {
    return station.Handle(request.data(), request.size(), TimePoint{});
}

// The reply is the clean one but for one byte, and still a whole frame.
void ExpectOnlyByteChanged(const Bytes& clean, const std::optional<Reply>& r, std::size_t offset) {
    ASSERT_TRUE(r);
    ASSERT_EQ(r->bytes.size(), clean.size());
    EXPECT_NE(r->bytes[offset], clean[offset]);
    for (std::size_t i = 0; i + 1 < clean.size(); ++i) {
        if (i != offset) {
            EXPECT_EQ(r->bytes[i], clean[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(r->bytes.back(), wire::Xor(r->bytes.data(), 1, r->bytes.size() - 2));
}

struct DamageCase {
    FaultMode mode;
    // What the faulted reply must look like, given the clean one.
    void (*check)(const Bytes& clean, const std::optional<Reply>& faulted);
};

class FaultDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(FaultDamage, NextReplyIsDamagedAndTheOneAfterIsClean) {
    Station station;
    const Bytes clean = Ask(station, kStatus)->bytes;
    station.SetFaultNext(GetParam().mode, 1);
    GetParam().check(clean, Ask(station, kStatus));
    const auto after = Ask(station, kStatus);
    ASSERT_TRUE(after);
    EXPECT_EQ(Hex(after->bytes), Hex(clean));
    EXPECT_EQ(after->delay.count(), 0);
    EXPECT_EQ(station.Stats().faults, 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultDamage,
                         ::testing::Values(DamageCase{FaultMode::kDropReply,
                                                      [](const Bytes&, const std::optional<Reply>& r) {
                                                          EXPECT_FALSE(r);
                                                      }},
                                           DamageCase{FaultMode::kBadChecksum,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          ASSERT_EQ(r->bytes.size(), clean.size());
                                                          EXPECT_TRUE(std::equal(clean.begin(), clean.end() - 1,
                                                                                 r->bytes.begin()));
                                                          EXPECT_NE(r->bytes.back(), clean.back());
                                                      }},
                                           DamageCase{FaultMode::kWrongLength,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          ASSERT_EQ(r->bytes.size(), clean.size());
                                                          EXPECT_EQ(r->bytes[3], clean[3] + 1);
                                                          EXPECT_EQ(r->bytes.back(),
                                                                    wire::Xor(r->bytes.data(), 1, r->bytes.size() - 2))
                                                              << "only the length is wrong";
                                                      }},
                                           DamageCase{FaultMode::kWrongStart,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          EXPECT_EQ(r->bytes[0], 0x03);
                                                          EXPECT_TRUE(std::equal(clean.begin() + 1, clean.end(),
                                                                                 r->bytes.begin() + 1));
                                                      }},
                                           DamageCase{FaultMode::kTruncate,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          EXPECT_EQ(Hex(r->bytes),
                                                                    Hex(Bytes(clean.begin(), clean.end() - 3)));
                                                      }},
                                           DamageCase{FaultMode::kNoise,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          ASSERT_EQ(r->bytes.size(), clean.size() + kNoiseBytes);
                                                          for (std::size_t i = 0; i < kNoiseBytes; ++i)
                                                              EXPECT_NE(r->bytes[i], 0x02);
                                                          EXPECT_TRUE(std::equal(clean.begin(), clean.end(),
                                                                                 r->bytes.begin() + kNoiseBytes));
                                                      }},
                                           DamageCase{FaultMode::kDelay,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ASSERT_TRUE(r);
                                                          EXPECT_EQ(Hex(r->bytes), Hex(clean));
                                                          EXPECT_EQ(r->delay, std::chrono::milliseconds(1000));
                                                      }},
                                           DamageCase{FaultMode::kOtherSequence,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ExpectOnlyByteChanged(clean, r, wire::kOffsetSequence);
                                                      }},
                                           DamageCase{FaultMode::kOtherAddress,
                                                      [](const Bytes& clean, const std::optional<Reply>& r) {
                                                          ExpectOnlyByteChanged(clean, r, wire::kOffsetAddress);
                                                      }}),
                         [](const auto& info) {
                             std::string name(FaultName(info.param.mode));
                             std::erase(name, '-');
                             return name;
                         });

struct RefusalCase {
    FaultMode mode;
    Bytes request;
};

class FaultRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(FaultRefusal, RefusesOnlyItsCommandAndChangesNothing) {
    Station station;
    ASSERT_TRUE(Ask(station, Frame(0, {0x01, 0x93, 0x00, 0x10, 0x27, 0, 0})));
    station.SetFaultNext(GetParam().mode, 1);
    // Other commands pass untouched and do not use up the fault.
    EXPECT_EQ(Ask(station, kStatus)->bytes[5], 0);
    const auto refused = Ask(station, GetParam().request);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->bytes[5], wire::kResultRefused);
    EXPECT_EQ(station.Nozzle(1, 1).status, kStatusIdle);
    EXPECT_EQ(station.Parameter(1, 3, 1, 1), 0u);
    EXPECT_EQ(station.Stats().faults, 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultRefusal,
                         ::testing::Values(RefusalCase{FaultMode::kRefuseStart, Frame(0, {0x01, 0x97, 0x00})},
                                           RefusalCase{FaultMode::kRefuseStop, Frame(0, {0x01, 0x96, 0x00})},
                                           RefusalCase{FaultMode::kRefuseWrite,
                                                       Frame(0, {0x01, 0x1E, 0x03, 0x01, 0x00, 0x01, 0x05, 0x00})}));

TEST(Faults, RateIsRoughlyKeptAndRepeatsWithTheSeed) {
    auto run = [](std::uint32_t seed) {
        Station station;
        station.SetFaultRate(FaultMode::kBadChecksum, 0.1, seed);
        std::vector<bool> damaged;
        for (int i = 0; i < 1000; ++i) {
            const auto r = Ask(station, kStatus);
            damaged.push_back(!wire::IsFrame(r->bytes.data(), r->bytes.size()));
        }
        return damaged;
    };
    const auto a = run(7);
    const auto hits = std::count(a.begin(), a.end(), true);
    EXPECT_GT(hits, 60);
    EXPECT_LT(hits, 140);
    EXPECT_EQ(a, run(7));
    EXPECT_NE(a, run(8));
}

TEST(Faults, FixedSequence_EveryReplyCarriesTheFixedByteAndStaysWhole) {
    for (const std::uint8_t fixed : {std::uint8_t{0x00}, std::uint8_t{0x55}}) {
        Station station;
        station.SetFixedSequence(fixed);
        station.SetFaultRate(FaultMode::kFixedSequence, 1.0);
        for (const std::uint8_t sequence : {0x07, 0x55, 0xFF}) {
            const Bytes request = Frame(sequence, {0x01, 0x9F, 0x00});
            const auto r = Ask(station, request);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->bytes[wire::kOffsetSequence], fixed);
            EXPECT_EQ(r->bytes[wire::kOffsetAddress], 0x01);
            EXPECT_TRUE(wire::IsFrame(r->bytes.data(), r->bytes.size())) << Hex(r->bytes);
        }
    }
}

TEST(Faults, ClearStopsARateFault) {
    Station station;
    station.SetFaultRate(FaultMode::kDropReply, 1.0);
    EXPECT_FALSE(Ask(station, kStatus));
    station.ClearFaults();
    EXPECT_TRUE(Ask(station, kStatus));
}

TEST(Faults, NamesRoundTrip) {
    for (const FaultMode mode : kAllFaultModes) EXPECT_EQ(ParseFault(FaultName(mode)), mode);
    EXPECT_FALSE(ParseFault("bogus"));
}

}  // namespace
}  // namespace zarvik::sim
