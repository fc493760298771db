// A journal file in a folder of the test's own, removed afterwards; moments
// as seconds from a fixed start.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "journal/Journal.h"

namespace zarvik::journal::test {

inline WallTime At(int seconds) {
    return WallTime{} + std::chrono::hours(24 * 365 * 50) + std::chrono::seconds(seconds);
}

class JournalFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "journal-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "sales.db").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A sale begun on line 1, dispenser 2, NOZZLE: 10 l at PRICE, total before 1000.
    static NewSale Sale(int nozzle = 1, double price = 50.0, int at = 0) {
        return NewSale{{1, 2, nozzle}, {PresetKind::Litres, 10.0}, price, 1000.0, At(at)};
    }

    std::filesystem::path dir_;
    std::string path_;
};

}  // namespace zarvik::journal::test
