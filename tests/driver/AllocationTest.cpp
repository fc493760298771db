// An exchange allocates nothing: count every operator new around whole polls
// and commands once the test doubles are set up.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "support/CountingNew.h"

namespace zarvik::testing {
namespace {

using AllocationTest = DriverTest;

TEST_F(AllocationTest, PollsAndCommandsAllocateNothing) {
    port.record = false;
    dispenser.Nozzle(1, 1).status = 13;  // also runs the clear exchange
    dispenser.Nozzle(1, 2).status = 8;
    dispenser.Nozzle(1, 2).volumeDose = 100000;
    TDispenserStatus status{};
    double total = 0;

    const long before = g_allocations.load();
    for (int i = 0; i < 10; ++i) driver.GetDispenserStatus(1, 1, 6, status);
    driver.SetNozzlePrice(1, 1, 1, 0, 0, 45.67);
    driver.SetVolumeDose(1, 1, 1, 0, 10.0);
    driver.SetMoneyDose(1, 1, 1, 0, 500.0);
    driver.StartNozzle(1, 1, 1, 0);
    driver.StopNozzle(1, 1, 1, 1);
    driver.ReadNozzleTotal(1, 1, 1, total, 0, 0, 0);
    const long after = g_allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_NE(status.State, 0) << "the polls really ran";
}

}  // namespace
}  // namespace zarvik::testing
