// The C interface against the simulator on a pseudo-terminal: what a C host
// sees of a delivery, a refusal, a timeout, a bad argument, a driver error,
// parameters, statistics and the error text.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/SerialEndpoint.h"
#include "sim/Station.h"
#include "zarvik/zarvik_c.h"

namespace {

constexpr std::uint8_t kFinished = 0xD0;  // upper five bits of a finished delivery's state

std::string LastError() {
    char text[512];
    EXPECT_EQ(zarvik_last_error(text, sizeof text, nullptr), ZARVIK_OK);
    return text;
}

class CApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        zarvik::sim::StationConfig config;
        config.timing = {.authorisedSeconds = 0.05,
                         .liftedSeconds = 0.05,
                         .flowLitresPerSecond = 20.0,
                         .slowdownLitres = 0.1,
                         .hangUpSeconds = 30};
        config.meterError = 0.0;
        sim_ = std::make_unique<zarvik::sim::Station>(config);
        endpoint_ = std::make_unique<zarvik::sim::SerialEndpoint>(*sim_, zarvik::sim::EndpointOptions{9600, false});
        const std::string pty = endpoint_->OpenPty();
        endpoint_->Start();
        ASSERT_EQ(zarvik_station_new(0, &station_), ZARVIK_OK);
        ASSERT_EQ(zarvik_set_device(station_, 1, pty.c_str()), ZARVIK_OK);
        ASSERT_EQ(zarvik_line_open(station_, 1), ZARVIK_OK) << LastError();
    }
    void TearDown() override {
        EXPECT_EQ(zarvik_station_free(station_), ZARVIK_OK);
        endpoint_->Stop();
    }

    std::unique_ptr<zarvik::sim::Station> sim_;
    std::unique_ptr<zarvik::sim::SerialEndpoint> endpoint_;
    zarvik_station* station_ = nullptr;
};

TEST_F(CApiTest, WholeDelivery_PollsToTheDoseAndTheTotal) {
    ASSERT_EQ(zarvik_set_price(station_, 1, 1, 2, 50.00), ZARVIK_OK) << LastError();
    ASSERT_EQ(zarvik_preset_litres(station_, 1, 1, 2, 2.5), ZARVIK_OK) << LastError();
    ASSERT_EQ(zarvik_start(station_, 1, 1, 2), ZARVIK_OK) << LastError();
    zarvik_dispenser_status status{};
    for (int poll = 0; poll < 500 && (status.nozzles[1].state & 0xF8) != kFinished; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the delivery runs in wall time
        ASSERT_EQ(zarvik_poll(station_, 1, 1, 3, &status), ZARVIK_OK) << LastError();
    }
    EXPECT_EQ(status.nozzles[1].state & 0xF8, kFinished);
    EXPECT_EQ(status.nozzle_count, 3);
    EXPECT_EQ(status.record[0], status.state);
    EXPECT_EQ(status.nozzles[1].has_values, 1);
    EXPECT_DOUBLE_EQ(status.nozzles[1].litres, 2.5);
    EXPECT_DOUBLE_EQ(status.nozzles[1].money, 125.0);
    EXPECT_DOUBLE_EQ(status.nozzles[0].litres, 0.0);  // another nozzle's own counters
    double total = -1;
    ASSERT_EQ(zarvik_read_total(station_, 1, 1, 2, &total), ZARVIK_OK) << LastError();
    EXPECT_DOUBLE_EQ(total, 2.5);
    EXPECT_EQ(zarvik_reset(station_, 1, 1, 2), ZARVIK_OK) << LastError();
    EXPECT_EQ(LastError(), "");
}

// Every failure comes back as a status with its cause; nothing is thrown.
TEST_F(CApiTest, Failures_AreStatusesWithTheirText) {
    double total = -1;
    zarvik_station* other = nullptr;
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t status;
        const char* text;
    } cases[] = {
        {"start without a dose", [&] { return zarvik_start(station_, 1, 1, 1); }, ZARVIK_E_REFUSED,
         "start: the dispenser refused the start (line result 10)"},
        {"driver refuses the dose", [&] { return zarvik_preset_litres(station_, 1, 1, 1, 99999999.0); },
         ZARVIK_E_ARGUMENT, "не помещается в поле команды"},
        {"nozzle out of range", [&] { return zarvik_stop(station_, 1, 1, 7); }, ZARVIK_E_ARGUMENT,
         "nozzle must be 1..6, got 7"},
        {"line out of range", [&] { return zarvik_line_open(station_, 33); }, ZARVIK_E_ARGUMENT,
         "line must be 1..32, got 33"},
        {"null station", [&] { return zarvik_start(nullptr, 1, 1, 1); }, ZARVIK_E_ARGUMENT, "null handle"},
        {"null result", [&] { return zarvik_read_total(station_, 1, 1, 1, nullptr); }, ZARVIK_E_ARGUMENT,
         "litres is a null pointer"},
        {"no such nozzle", [&] { return zarvik_read_total(station_, 1, 1, 4, &total); }, ZARVIK_E_REFUSED,
         "refused the command (line result 4)"},
        {"unmapped line", [&] { return zarvik_line_open(station_, 2); }, ZARVIK_E_DEVICE, "does not open"},
        {"station file missing", [&] { return zarvik_station_open_file("/nonexistent/s.json", 0, &other); },
         ZARVIK_E_ARGUMENT, "cannot be read"},
        {"write refused", [&] { return zarvik_write_parameter(station_, 1, 1, 1010101, 0x7FFFFFFF); }, ZARVIK_E_REFUSED,
         "parameter write: the dispenser refused"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.status) << c.name;
        EXPECT_NE(LastError().find(c.text), std::string::npos) << c.name << ": " << LastError();
    }
    EXPECT_EQ(total, -1);
    EXPECT_EQ(other, nullptr);
}

TEST_F(CApiTest, ErrorText_IsCutAtACharacterAndSaysItsSize) {
    ASSERT_EQ(zarvik_preset_litres(station_, 1, 1, 1, 99999999.0), ZARVIK_E_ARGUMENT);
    const std::string whole = LastError();
    uint32_t needed = 0;
    EXPECT_EQ(zarvik_last_error(nullptr, 0, &needed), ZARVIK_E_TRUNCATED);
    EXPECT_EQ(needed, whole.size() + 1);
    const std::size_t cyrillic = whole.find("не");
    ASSERT_NE(cyrillic, std::string::npos);
    // One byte short of the second letter's end: the whole letter is left out.
    char cut[64];
    ASSERT_LT(cyrillic + 4, sizeof cut);
    EXPECT_EQ(zarvik_last_error(cut, static_cast<uint32_t>(cyrillic + 4), &needed), ZARVIK_E_TRUNCATED);
    EXPECT_EQ(std::string(cut), whole.substr(0, cyrillic + 2));
    EXPECT_EQ(LastError(), whole);  // reading it leaves it
    char info[8];
    EXPECT_EQ(zarvik_driver_info(station_, info, sizeof info, &needed), ZARVIK_E_TRUNCATED);
    EXPECT_EQ(std::string(info), "v2.50#");
    char full[64];
    EXPECT_EQ(zarvik_driver_info(station_, full, sizeof full, &needed), ZARVIK_OK);
    EXPECT_EQ(std::string(full), "v2.50#Протокол Зенто-М");
    EXPECT_EQ(LastError(), "");  // a good call clears it
}

TEST_F(CApiTest, Parameters_ReadWriteAndDescriptions) {
    const auto expected = sim_->Parameter(1, 1, 2, 3);
    ASSERT_TRUE(expected.has_value());
    int32_t value = -1;
    ASSERT_EQ(zarvik_read_parameter(station_, 1, 1, 1010203, &value), ZARVIK_OK) << LastError();
    EXPECT_EQ(static_cast<uint32_t>(value), *expected);
    zarvik_field_info field{};
    ASSERT_EQ(zarvik_read_field_info(station_, 1, 1, 1, 3, &field), ZARVIK_OK) << LastError();
    ASSERT_EQ(zarvik_write_parameter(station_, 1, 1, 1010203, static_cast<int32_t>(field.low)), ZARVIK_OK)
        << LastError();
    EXPECT_EQ(sim_->Parameter(1, 1, 2, 3), field.low);
    zarvik_table_info table{};
    ASSERT_EQ(zarvik_read_table_info(station_, 1, 1, 1, &table), ZARVIK_OK) << LastError();
    EXPECT_EQ(table.rows, 3);
    EXPECT_EQ(table.fields, 12);
    EXPECT_GT(std::string(table.name).size(), 0u);
    EXPECT_EQ(zarvik_read_table_info(station_, 1, 1, 99, &table), ZARVIK_E_REFUSED) << LastError();
    EXPECT_EQ(table.rows, 3);  // left as it was
    int32_t known = -1, capability = -1;
    ASSERT_EQ(zarvik_query_capability(station_, 7, &known, &capability), ZARVIK_OK);
    EXPECT_EQ(known * 1000 + capability, 1100);
    ASSERT_EQ(zarvik_query_capability(station_, 8, &known, &capability), ZARVIK_OK);
    EXPECT_EQ(known * 1000 + capability, 100);
}

TEST_F(CApiTest, Timeout_IsNoReplyCountedInTheStatistics) {
    zarvik_dispenser_status status{};
    ASSERT_EQ(zarvik_poll(station_, 1, 1, 2, &status), ZARVIK_OK) << LastError();
    // A second line on a pseudo-terminal nobody answers.
    zarvik::sim::SerialEndpoint silent(*sim_);
    const std::string pty = silent.OpenPty();
    ASSERT_EQ(zarvik_set_device(station_, 2, pty.c_str()), ZARVIK_OK);
    ASSERT_EQ(zarvik_set_timeouts(station_, 2, 50, 20), ZARVIK_OK);
    ASSERT_EQ(zarvik_line_open(station_, 2), ZARVIK_OK) << LastError();
    EXPECT_EQ(zarvik_poll(station_, 2, 1, 2, &status), ZARVIK_E_NO_REPLY);
    EXPECT_NE(LastError().find("Невозможно выполнить запрос состояния ТРК (line error 300"), std::string::npos)
        << LastError();
    EXPECT_EQ(status.nozzle_count, 0);  // nothing half-filled
    zarvik_line_statistics one{}, two{};
    ASSERT_EQ(zarvik_line_statistics_get(station_, 1, &one), ZARVIK_OK);
    ASSERT_EQ(zarvik_line_statistics_get(station_, 2, &two), ZARVIK_OK);
    EXPECT_EQ(one.exchanges, 2u);
    EXPECT_EQ(one.good, 2u);
    EXPECT_GT(one.bytes_received, 0u);
    EXPECT_EQ(two.exchanges, 1u);
    EXPECT_EQ(two.timeouts, 1u);
    EXPECT_EQ(two.good, 0u);
}

TEST_F(CApiTest, StationFile_MapsItsLines) {
    const std::string path = ::testing::TempDir() + "capi-station.json";
    std::ofstream(path) << R"({"lines": [{"line": 3, "device": ")" << endpoint_->Path()
                        << R"(", "dispensers": [{"number": 1, "nozzles": 3}]}]})";
    zarvik_station* fromFile = nullptr;
    ASSERT_EQ(zarvik_station_open_file(path.c_str(), 0, &fromFile), ZARVIK_OK) << LastError();
    std::remove(path.c_str());
    zarvik_dispenser_status status{};
    EXPECT_EQ(zarvik_line_close(station_, 1), ZARVIK_OK);  // a device is held by one line at a time
    EXPECT_EQ(zarvik_line_open(fromFile, 3), ZARVIK_OK) << LastError();
    EXPECT_EQ(zarvik_poll(fromFile, 3, 1, 3, &status), ZARVIK_OK) << LastError();
    EXPECT_EQ(status.nozzle_count, 3);
    EXPECT_EQ(zarvik_station_free(fromFile), ZARVIK_OK);
}

// Two lines in parallel, and two callers on one line (serialised inside):
// every poll gets its own good answer.
TEST_F(CApiTest, Threads_OnTwoLinesAndOnOneLine_AllPollsGood) {
    zarvik::sim::SerialEndpoint second(*sim_, zarvik::sim::EndpointOptions{9600, false});
    const std::string pty = second.OpenPty();
    second.Start();
    ASSERT_EQ(zarvik_set_device(station_, 2, pty.c_str()), ZARVIK_OK);
    ASSERT_EQ(zarvik_line_open(station_, 2), ZARVIK_OK) << LastError();
    std::atomic<int> good{0};
    const auto poller = [&](int line) {
        for (int i = 0; i < 20; ++i) {
            zarvik_dispenser_status status{};
            if (zarvik_poll(station_, line, 1, 3, &status) == ZARVIK_OK && status.nozzles[2].has_values == 1) ++good;
        }
    };
    { std::jthread a(poller, 1), b(poller, 1), c(poller, 2); }
    EXPECT_EQ(good, 60);
    zarvik_line_statistics one{};
    ASSERT_EQ(zarvik_line_statistics_get(station_, 1, &one), ZARVIK_OK);
    EXPECT_EQ(one.good, 2u * 20 * 3);
    EXPECT_EQ(one.bad, 0u);
    second.Stop();
}

}  // namespace
