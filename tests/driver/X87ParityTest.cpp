// The driver and the tests' value comparisons on the x87 unit, on an x86-64
// machine. This program and its own copy of the driver are built with
// -mfpmath=387, so every double expression is computed in 80 bits as in the
// 32-bit Windows build. One difference stays: there a function returning a
// double hands it back unrounded in st(0), here through xmm0; a function
// returning long double (ReturnedInSt0) gives its caller a value the 32-bit way.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DriverFixture.h"
#include "support/WireUnits.h"

namespace zarvik::testing {
namespace {

static_assert(__FLT_EVAL_METHOD__ == 2, "build this file with -mfpmath=387");

// A 32-bit caller of GetDeliveredVolume receives st(0).
[[gnu::noinline]] long double ReturnedInSt0(TVM30& d, int dispenser, double& amount) {
    return d.GetDeliveredVolume(1, dispenser, amount);
}
// What a 32-bit function declared `double` returns when it returns a fresh quotient.
[[gnu::noinline]] long double FreshQuotientInSt0(std::uint32_t raw) { return raw / 1000.0L; }

// Counters with every kind of quotient: exact, recurring, the largest a field carries.
std::vector<std::uint32_t> Counters() {
    std::vector<std::uint32_t> raws = {0, 1, 5, 999, 1000, 1001, 0xFFFFFF, 0xFFFFFFFF, 4294967295u - 999};
    for (std::uint32_t raw = 2; raw < 3000; raw += 7) raws.push_back(raw);
    for (std::uint32_t raw = 12345; raw < 0xFFFFFFFF - 400000000u; raw += 400000001u) raws.push_back(raw);
    return raws;
}

// The comparison the port tests made before: a stored double against a fresh
// quotient. Here it fails for most counters, which shows the reproduction works.
TEST(X87Parity, AStoredQuotientDiffersFromAFreshOne) {
    int differ = 0, differInSt0 = 0;
    for (const std::uint32_t raw : Counters()) {
        volatile double stored = raw / 1000.0;
        differ += stored != raw / 1000.0;
        differInSt0 += stored != FreshQuotientInSt0(raw);
        EXPECT_EQ(Thousandths(stored), raw);
        const double storedFromSt0 = FreshQuotientInSt0(raw);
        EXPECT_EQ(Thousandths(storedFromSt0), raw);
    }
    EXPECT_GT(differ, 0);
    EXPECT_GT(differInSt0, 0);
}

using X87DriverTest = DriverTest;

// What the dispenser sent is what the host reads, in units, whichever way
// the value leaves the driver; what a host computed and stored is what the
// dispenser receives.
TEST_F(X87DriverTest, ValuesCrossTheDriverExactlyInWireUnits) {
    for (const std::uint32_t raw : Counters()) {
        FakeNozzle& z = dispenser.Nozzle(1, 1);  // the nozzle operations 6 and 9 report at first
        z = FakeNozzle{};
        z.volume = raw;
        z.money = raw;
        z.total = raw;
        TDispenserStatus status{};
        driver.GetDispenserStatus(1, 1, 1, status);
        ASSERT_EQ(driver.GetLineResult(1), 1);
        double volume = -1, amount = -1, total = -1;
        driver.GetDeliveryValues(1, 1, volume, amount);
        EXPECT_EQ(Thousandths(volume), raw);
        EXPECT_EQ(Hundredths(amount), raw);
        const double returned = ReturnedInSt0(driver, 1, amount);
        EXPECT_EQ(Thousandths(returned), raw);
        driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0);
        EXPECT_EQ(Thousandths(total), raw);

        if (raw > 0xFFFFFF) continue;  // the price field has 3 bytes
        const double litres = raw / 1000.0, money = raw / 100.0;
        driver.SetVolumeDose(1, 1, 1, 0, litres);
        driver.SetMoneyDose(1, 1, 1, 0, money);
        driver.SetNozzlePrice(1, 1, 1, 0, 0, money);
        EXPECT_EQ(z.volumeDose, raw);
        EXPECT_EQ(z.moneyDose, raw);
        EXPECT_EQ(z.price, raw);
    }
}

}  // namespace
}  // namespace zarvik::testing
