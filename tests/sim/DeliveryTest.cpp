// The delivery state machine and the calibration model, driven through the
// request handler with an injected clock.
#include <gtest/gtest.h>

#include <cmath>

#include "SimTestSupport.h"
#include "sim/Station.h"

namespace zarvik::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::Le;

// Default timing: 0.5 s authorised, 0.5 s lifted, 2 L/s, slowdown for the last 0.5 L, hang-up 1 s after the end.
class Rig {
public:
    explicit Rig(StationConfig config = {}) : station(std::move(config)) {}

    Bytes Send(const Bytes& payload, double atSeconds) {
        const Bytes request = Frame(sequence_++, payload);
        const auto reply = station.Handle(request.data(), request.size(), At(atSeconds));
        EXPECT_TRUE(reply.has_value());
        return reply ? reply->bytes : Bytes{};
    }
    static TimePoint At(double s) {
        return TimePoint{} + std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(s));
    }
    Bytes Poll(std::uint8_t address, std::uint8_t nozzleByte, double at) {
        return Send({address, 0x9F, nozzleByte}, at);
    }
    std::uint8_t DoseLitres(std::uint8_t address, std::uint8_t nozzleByte, std::uint32_t thousandths, double at) {
        Bytes p{address, 0x93, nozzleByte, 0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) p[3 + i] = static_cast<std::uint8_t>(thousandths >> (8 * i));
        return Send(p, at).at(5);
    }
    std::uint8_t Start(std::uint8_t address, std::uint8_t nozzleByte, double at) {
        return Send({address, 0x97, nozzleByte}, at).at(5);
    }

    Station station;

private:
    std::uint8_t sequence_ = 0;
};

struct PollPoint {
    double at;
    std::uint8_t status;
    std::uint8_t flags;
    std::uint32_t volume;  // thousandths
    std::uint32_t money;   // hundredths
};

TEST(Delivery, TenLitreDose_WalksThroughEveryHostStateBand) {
    Rig rig;
    ASSERT_EQ(rig.DoseLitres(1, 0, 10000, 0.0), 0);
    ASSERT_EQ(rig.Start(1, 0, 0.0), 0);
    const PollPoint points[] = {
        {0.1, 3, 0x00, 0, 0},           // authorised
        {0.6, 4, 0x08, 0, 0},           // nozzle lifted
        {2.0, 7, 0x08, 2000, 9134},     // 1 s of flow at 2 L/s, 45.67 a litre
        {5.8, 8, 0x08, 9600, 43843},    // last half litre
        {6.1, 10, 0x08, 10000, 45670},  // dose reached: exactly 10.000
        {7.2, 13, 0x00, 10000, 45670},  // hung up, waiting for the clear
    };
    for (const auto& p : points) {
        const Bytes r = rig.Poll(1, 0, p.at);
        ASSERT_EQ(r.size(), 35u);
        EXPECT_EQ(r[31], p.status) << "at " << p.at;
        EXPECT_EQ(r[32], p.flags) << "at " << p.at;
        EXPECT_EQ(Le(r, 7, 4), p.volume) << "at " << p.at;
        EXPECT_EQ(Le(r, 15, 4), p.money) << "at " << p.at;
    }
    EXPECT_EQ(rig.Start(1, 0, 7.3), 1) << "no start before the clear";
    rig.Send({1, 0x98, 0}, 7.4);
    const Bytes idle = rig.Poll(1, 0, 7.5);
    EXPECT_EQ(idle[31], 0);
    EXPECT_EQ(Le(idle, 7, 4), 10000u) << "counters keep the last delivery";
    EXPECT_EQ(Le(rig.Send({1, 0x9B, 0}, 7.6), 7, 4), 10000u);
    EXPECT_EQ(rig.Start(1, 0, 7.7), 1) << "the dose is used up";
}

TEST(Delivery, StopDuringFlow_ReportsStoppedThenHungThenIdleAfterClear) {
    Rig rig;
    rig.DoseLitres(1, 5, 10000, 0.0);  // dispenser 2, nozzle 1
    rig.Start(1, 5, 0.0);
    EXPECT_EQ(rig.Send({1, 0x96, 5}, 2.0).at(5), 0);
    const Bytes stopped = rig.Poll(1, 5, 2.5);
    EXPECT_EQ(stopped[31], 14);
    EXPECT_EQ(Le(stopped, 7, 4), 2000u);
    EXPECT_EQ(rig.Poll(1, 5, 3.1)[31], 13);
    rig.Send({1, 0x98, 5}, 3.2);
    EXPECT_EQ(rig.Poll(1, 5, 3.3)[31], 0);
    EXPECT_NEAR(rig.station.PouredLitres(2, 1), 2.0 * 1.01, 1e-9);
}

TEST(Delivery, StopBeforeFlow_CancelsToIdle) {
    Rig rig;
    rig.DoseLitres(2, 0, 5000, 0.0);
    rig.Start(2, 0, 0.0);
    rig.Send({2, 0x96, 0}, 0.7);
    const Bytes r = rig.Poll(2, 0, 5.0);
    EXPECT_EQ(r[31], 0);
    EXPECT_EQ(r[32], 0);
    EXPECT_EQ(Le(r, 7, 4), 0u);
}

TEST(Delivery, MoneyDose_EndsOnTheExactAmount) {
    Rig rig;
    rig.Send({1, 0x94, 1, 0x10, 0x27, 0, 0, 0}, 0.0);  // 100.00 at 45.67
    ASSERT_EQ(rig.Start(1, 1, 0.0), 0);
    const Bytes r = rig.Poll(1, 1, 2.5);
    EXPECT_EQ(r[31], 10);
    EXPECT_EQ(Le(r, 15, 4), 10000u);
    EXPECT_EQ(Le(r, 7, 4), 2190u);  // 100 / 45.67 = 2.1896 L
}

TEST(Delivery, WithoutClearAfterHangUp_GoesStraightToIdle) {
    StationConfig config;
    config.clearAfterHangUp = false;
    Rig rig(config);
    rig.DoseLitres(1, 0, 1000, 0.0);
    rig.Start(1, 0, 0.0);
    EXPECT_EQ(rig.Poll(1, 0, 1.6)[31], 10);
    EXPECT_EQ(rig.Poll(1, 0, 2.7)[31], 0);
}

TEST(Delivery, RefusalsFollowTheDispenserState) {
    Rig rig;
    rig.DoseLitres(1, 0, 10000, 0.0);
    rig.DoseLitres(1, 1, 10000, 0.0);
    rig.DoseLitres(1, 5, 10000, 0.0);
    ASSERT_EQ(rig.Start(1, 0, 0.0), 0);
    EXPECT_EQ(rig.Start(1, 0, 0.1), 1) << "already running";
    EXPECT_EQ(rig.Start(1, 1, 0.1), 1) << "another nozzle of dispenser 1 is busy";
    EXPECT_EQ(rig.Start(1, 5, 0.1), 0) << "dispenser 2 is free";
    EXPECT_EQ(rig.DoseLitres(1, 0, 2000, 0.2), 1) << "no new dose during a delivery";
    EXPECT_EQ(rig.Send({1, 0x9A, 0, 0x2C, 0x01, 0, 0x10, 0x27, 0}, 0.2).at(5), 1) << "no price change either";
    EXPECT_EQ(rig.Start(1, 3, 0.2), 2) << "no nozzle at byte 3";
}

TEST(Delivery, ManualNozzle_WaitsForTheCustomer) {
    StationConfig config;
    config.autoNozzle = false;
    Rig rig(config);
    rig.station.LiftNozzle(1, 1, Rig::At(0.0));
    EXPECT_EQ(rig.Poll(1, 0, 0.1)[32], 0x08) << "lifted while idle";
    rig.station.HangUpNozzle(1, 1, Rig::At(0.2));
    rig.DoseLitres(1, 0, 1000, 0.3);
    rig.Start(1, 0, 0.3);
    EXPECT_EQ(rig.Poll(1, 0, 60.0)[31], 3) << "authorised until lifted";
    rig.station.LiftNozzle(1, 1, Rig::At(60.0));
    EXPECT_EQ(rig.Poll(1, 0, 61.0)[31], 10);
    EXPECT_EQ(rig.Poll(1, 0, 120.0)[31], 10) << "finished until hung up";
    rig.station.HangUpNozzle(1, 1, Rig::At(120.0));
    EXPECT_EQ(rig.Poll(1, 0, 120.1)[31], 13);
}

TEST(Delivery, ForcedStatusIsReportedUntilReleased) {
    Rig rig;
    for (const std::uint8_t code : {1, 2, 5, 6, 9, 11, 12, 15, 200}) {
        rig.station.ForceStatus(2, 3, code, 0x08);
        const Bytes r = rig.Poll(1, 7, 0.0);
        EXPECT_EQ(r[31], code);
        EXPECT_EQ(r[32], 0x08);
    }
    rig.station.ForceStatus(2, 3, std::nullopt);
    EXPECT_EQ(rig.Poll(1, 7, 0.0)[31], 0);
}

// One calibration with the dialog's arithmetic: A = D x (1 - 1 / (e + 1)) (or D when e = 0),
// k = round-half-even(A / (F - A)), written to table 2 field 21 of the nozzle's row.
double Deliver(Rig& rig, double start) {
    rig.DoseLitres(1, 2, 10000, start);
    EXPECT_EQ(rig.Start(1, 2, start), 0);
    EXPECT_EQ(Le(rig.Poll(1, 2, start + 20.0), 7, 4), 10000u) << "the meter shows the ordered volume";
    rig.Send({1, 0x98, 2}, start + 20.1);
    return rig.station.PouredLitres(1, 3);
}

struct CalibrationCase {
    double eps;
    std::int16_t initialE;
};

class Calibration : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(Calibration, OneRoundBringsThePouredVolumeWithinTenMillilitres) {
    Rig rig;
    rig.station.SetMeterError(1, 3, GetParam().eps);
    const auto raw = static_cast<std::uint16_t>(GetParam().initialE);
    ASSERT_EQ(
        rig.Send({1, 0x1E, 2, 3, 0, 21, static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8)}, 0).at(5),
        0);
    const double ordered = 10.0;
    const double fact = Deliver(rig, 0.0);

    const Bytes read = rig.Send({1, 0x1F, 2, 3, 0, 21}, 30.0);
    const auto e = static_cast<std::int16_t>(Le(read, 6, read[3] - 2));
    const double a = e == 0 ? ordered : ordered * (1.0 - 1.0 / (e + 1.0));
    const auto k = static_cast<std::int32_t>(std::nearbyint(a / (fact - a)));
    ASSERT_EQ(
        rig.Send({1, 0x1E, 2, 3, 0, 21, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8)}, 30.0).at(5),
        0)
        << "k = " << k;

    EXPECT_NEAR(Deliver(rig, 40.0), 10.0, 0.01) << "k = " << k;
}

INSTANTIATE_TEST_SUITE_P(MeterErrors, Calibration,
                         ::testing::Values(CalibrationCase{0.01, 0}, CalibrationCase{-0.01, 0},
                                           CalibrationCase{0.003, 0}, CalibrationCase{-0.025, 0},
                                           CalibrationCase{0.02, 100}, CalibrationCase{-0.004, -150}));

TEST(CalibrationModel, PouredVolumeFollowsTheCoefficient) {
    Rig rig;  // default eps +1 %
    EXPECT_NEAR(Deliver(rig, 0.0), 10.1, 1e-9);
    rig.station.SetParameter(1, 2, 3, 21, 100);
    EXPECT_NEAR(Deliver(rig, 40.0), 10.0, 1e-9);    // 10 x 1.01 x 100 / 101
    rig.station.SetParameter(1, 2, 3, 21, 0xFF9C);  // read as -100
    EXPECT_NEAR(Deliver(rig, 80.0), 10.0 * 1.01 * -100.0 / -99.0, 1e-9);
}

}  // namespace
}  // namespace zarvik::sim
