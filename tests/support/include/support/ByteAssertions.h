// Byte-for-byte comparison for golden-frame tests: on failure both frames
// are printed in hex with the differing bytes marked.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zarvik::testing {

// "expected 02 00 01\n  actual 02 00 03\n                ^^".
inline std::string HexDiff(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual) {
    std::string e = "expected", a = "  actual", marks = "        ";
    const std::size_t n = expected.size() > actual.size() ? expected.size() : actual.size();
    char cell[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(cell, sizeof cell, " %02X", i < expected.size() ? expected[i] : 0);
        e += i < expected.size() ? cell : "   ";
        std::snprintf(cell, sizeof cell, " %02X", i < actual.size() ? actual[i] : 0);
        a += i < actual.size() ? cell : "   ";
        const bool same = i < expected.size() && i < actual.size() && expected[i] == actual[i];
        marks += same ? "   " : " ^^";
    }
    return e + "\n" + a + "\n" + marks + "\n(" + std::to_string(expected.size()) + " bytes expected, " +
           std::to_string(actual.size()) + " received)";
}

inline ::testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                            const std::vector<std::uint8_t>& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n" << HexDiff(expected, actual);
}

}  // namespace zarvik::testing
