// The fault matrix, short: every cell with a few dozen operations on an
// unpaced line, default response timeout. The full run (1000 operations a
// cell, paced at 9600 baud) is the fault_matrix program beside this test.
#include <gtest/gtest.h>

#include "FaultMatrix.h"

namespace zarvik::testing {
namespace {

TEST(FaultMatrix, NoWrongValueAcceptedInAnyModeAndRate) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "minutes of waiting on timeouts; the threads are covered by the other port tests";
#endif
    MatrixOptions options;
    options.operations = 45;
    options.pacing = false;
    const auto cells = AllMatrixCells();
    const auto results = RunMatrix(cells, options);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const auto& c = cells[i];
        const auto& r = results[i];
        const std::string name = c.Name() + " at " + std::to_string(static_cast<int>(c.rate * 100)) + " %";
        EXPECT_EQ(r.wrong, 0) << name;
        EXPECT_EQ(r.good + r.bad + r.timeouts + r.wrong, options.operations) << name;
        // At 10 % every mode leaves most operations good; so does a dispenser
        // that never echoes at any rate, and a reply with another number or
        // address before the line has learnt what its dispenser sends.
        if (c.rate < 0.5 || c.mode == sim::FaultMode::kFixedSequence) {
            EXPECT_GT(r.good, options.operations / 2) << name;
        }
    }
}

}  // namespace
}  // namespace zarvik::testing
