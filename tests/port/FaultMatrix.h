// The fault matrix at the operation level: a simulated station on a
// pseudo-terminal or a loopback line (its own per cell, FarEnd.h), the real
// port service and the driver, every nozzle, dispenser and address with
// values of its own. Each cell runs
// one fault mode at one rate and performs the host's operations in turn:
// poll a dispenser (operation 21) then read its delivery values
// (operation 6), read a nozzle's total (operation 7), read a parameter of an
// address (operation 17). What the host reads back is compared with the
// true values of what it asked about: a good result with another value is a
// wrong value accepted.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "port/SerialPortManager.h"
#include "sim/Faults.h"

namespace zarvik::testing {

struct MatrixCell {
    sim::FaultMode mode = sim::FaultMode::kNone;
    double rate = 0.0;
    std::chrono::milliseconds delay{0};  // the delay mode's lateness
    std::uint8_t fixedSequence = 0;      // the fixed-sequence mode's byte
    std::string Name() const;
};

struct MatrixOptions {
    int operations = 1000;
    bool pacing = true;  // replies at 9600 baud, as on a real line
    port::LineSettings settings;
    std::uint32_t seed = 11;
};

struct MatrixResult {
    int good = 0;      // line result 1 and the right values
    int bad = 0;       // line result other than 1
    int timeouts = 0;  // ESerialIO: no reply, or the line failed
    int wrong = 0;     // line result 1 with a value that is not the true one
    std::uint64_t exchanges = 0;
    std::uint64_t staleDropped = 0;
    std::uint64_t foreignDropped = 0;
    std::uint64_t notAnswersDropped = 0;  // other address/command/nozzle, copies, local echoes
    std::uint64_t refusals = 0;
    port::Learnt sequenceEcho = port::Learnt::Unknown;
    double seconds = 0;
};

// No fault, then every mode at 10 % and 100 %; the late replies (0.4, 0.5 and 1 s) also at 50 %;
// late replies on a line that never echoes at 0.45 s.
std::vector<MatrixCell> AllMatrixCells();
MatrixResult RunMatrixCell(const MatrixCell& cell, const MatrixOptions& options);
// Runs all cells, each on a thread of its own, and prints the table.
std::vector<MatrixResult> RunMatrix(const std::vector<MatrixCell>& cells, const MatrixOptions& options);

}  // namespace zarvik::testing
