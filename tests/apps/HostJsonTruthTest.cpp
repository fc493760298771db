// The host's commands in this process against an embedded simulated
// station whose nozzles all differ: each --json document is parsed back and
// compared with what the station really holds, so a value from another
// nozzle, dispenser or request cannot pass.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "Commands.h"
#include "Totals.h"
#include "hostkit/ExitCodes.h"
#include "protocol/ParameterCode.h"
#include "sim/ParameterTables.h"
#include "station/EmbeddedSimulator.h"

namespace zarvik::host {
namespace {

using nlohmann::json;

constexpr int kDispensers = 4;  // bus addresses 1 and 2
constexpr int kNozzles = 3;

sim::StationConfig QuickStation() {
    sim::StationConfig c;
    c.nozzlesPerDispenser = kNozzles;
    c.timing.authorisedSeconds = 0.01;
    c.timing.liftedSeconds = 0.01;
    c.timing.flowLitresPerSecond = 50.0;
    c.timing.hangUpSeconds = 0.02;
    c.clearAfterHangUp = false;
    return c;
}

sim::EndpointOptions Unpaced() {
    sim::EndpointOptions o;
    o.pacing = false;
    return o;
}

struct Output {
    int code;
    std::string text;
};

// Runs a command with stdout captured.
Output Capture(const std::function<int()>& run) {
    ::testing::internal::CaptureStdout();
    int code = -1;
    try {
        code = run();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    std::cout.flush();
    return {code, ::testing::internal::GetCapturedStdout()};
}

class HostJson : public ::testing::Test {
protected:
    HostJson() : simulator_(QuickStation(), Unpaced()) {
        options_.device = simulator_.Start();
        options_.library = ZARVIK_LIBRARY_PATH;  // the build tree's, not an installed one
        // Every nozzle's total, price and parameter differ from every other's.
        for (int d = 1; d <= kDispensers; ++d)
            for (int k = 1; k <= kNozzles; ++k) {
                Station().SetTotal(d, k, static_cast<std::uint32_t>(d * 1000000 + k * 1111 + 7));
                Station().SetPrice(d, k, static_cast<std::uint32_t>(4000 + d * 100 + k));
            }
    }
    sim::Station& Station() { return simulator_.GetStation(); }

    // A command on a session of its own, its stdout parsed as one document.
    json Run(int (*command)(Session&, const CommandArgs&), CommandArgs a, int code = kExitOk) {
        a.json = true;
        Session s(options_);
        const Output out = Capture([&] { return command(s, a); });
        EXPECT_EQ(out.code, code) << out.text;
        return json::parse(out.text);  // throws when it is not exactly one document
    }

    // Pours `litres` on a nozzle and waits until it is idle again.
    void Deliver(int dispenser, int nozzle, double litres) {
        ASSERT_TRUE(Station().StartDelivery(dispenser, nozzle, litres, sim::SimClock::now()));
        for (int i = 0; i < 2000; ++i) {
            Station().Advance(sim::SimClock::now());
            const auto n = Station().Nozzle(dispenser, nozzle);
            if (n.status == sim::kStatusIdle && n.volume > 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        FAIL() << "the delivery did not end";
    }

    EmbeddedSimulator simulator_;
    SessionOptions options_;
};

StationFile WholeStation(const std::string& device, int dispensers) {
    StationFile plan;
    plan.source = "test";
    StationLine line;
    line.line = 1;
    line.device = device;
    for (int d = 1; d <= dispensers; ++d)
        line.dispensers.push_back({d, kNozzles, "ТРК " + std::to_string(d), {"АИ-92", "АИ-95", "ДТ, зимнее"}});
    plan.lines.push_back(line);
    return plan;
}

TEST_F(HostJson, Totals_EveryNozzleHasItsOwnTotalInJsonCsvAndText) {
    const StationFile plan = WholeStation(options_.device, kDispensers);
    const Output out = Capture([&] { return RunTotals(plan, options_, OutputFormat::Json); });
    ASSERT_EQ(out.code, kExitOk) << out.text;
    const json doc = json::parse(out.text);
    EXPECT_TRUE(doc["complete"].get<bool>());
    ASSERT_EQ(doc["lines"].size(), 1u);
    const json& dispensers = doc["lines"][0]["dispensers"];
    ASSERT_EQ(dispensers.size(), static_cast<std::size_t>(kDispensers));
    for (int d = 1; d <= kDispensers; ++d) {
        const json& jd = dispensers[d - 1];
        EXPECT_EQ(jd["number"], d);
        EXPECT_EQ(jd["name"], "ТРК " + std::to_string(d));
        ASSERT_EQ(jd["nozzles"].size(), static_cast<std::size_t>(kNozzles));
        for (int k = 1; k <= kNozzles; ++k) {
            SCOPED_TRACE("dispenser " + std::to_string(d) + " nozzle " + std::to_string(k));
            EXPECT_EQ(jd["nozzles"][k - 1]["number"], k);
            EXPECT_DOUBLE_EQ(jd["nozzles"][k - 1]["total"].get<double>(), Station().Nozzle(d, k).total / 1000.0);
        }
    }

    const Output csv = Capture([&] { return RunTotals(plan, options_, OutputFormat::Csv); });
    ASSERT_EQ(csv.code, kExitOk);
    std::istringstream rows(csv.text);
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row, "line,dispenser,nozzle,total_litres,dispenser_name,nozzle_name,error");
    for (int d = 1; d <= kDispensers; ++d)
        for (int k = 1; k <= kNozzles; ++k) {
            std::getline(rows, row);
            char total[32];
            std::snprintf(total, sizeof total, "%.3f", Station().Nozzle(d, k).total / 1000.0);
            const std::string name = k == 3 ? "\"ДТ, зимнее\"" : k == 1 ? "АИ-92" : "АИ-95";
            EXPECT_EQ(row, "1," + std::to_string(d) + "," + std::to_string(k) + "," + total + ",ТРК " +
                               std::to_string(d) + "," + name + ",");
        }
    EXPECT_FALSE(std::getline(rows, row)) << row;

    const Output text = Capture([&] { return RunTotals(plan, options_, OutputFormat::Text); });
    char line[128];
    std::snprintf(line, sizeof line, "%4d %9d %6d %14.3f  ТРК 2, АИ-95\n", 1, 2, 2,
                  Station().Nozzle(2, 2).total / 1000.0);
    EXPECT_NE(text.text.find(line), std::string::npos) << text.text;
    EXPECT_NE(text.text.find("12 nozzle(s), 0 not read\n"), std::string::npos) << text.text;
}

// Dispensers 5 and 6 (bus address 3) are not on the line: their nozzles are
// shown as not read, every other total is still there, and the exit code
// says the exchange failed.
TEST_F(HostJson, Totals_NozzlesThatDoNotAnswer_AreShownAsNotReadAndFailTheCommand) {
    port::LineSettings quick;
    quick.response = std::chrono::milliseconds(50);
    options_.settings = quick;
    const StationFile plan = WholeStation(options_.device, 5);
    const Output out = Capture([&] { return RunTotals(plan, options_, OutputFormat::Json); });
    EXPECT_EQ(out.code, kExitExchangeFailed);
    const json doc = json::parse(out.text);
    EXPECT_FALSE(doc["complete"].get<bool>());
    const json& dispensers = doc["lines"][0]["dispensers"];
    ASSERT_EQ(dispensers.size(), 5u);
    for (const json& n : dispensers[4]["nozzles"]) {
        EXPECT_TRUE(n["total"].is_null());
        EXPECT_NE(n["error"].get<std::string>().find("Невозможно"), std::string::npos) << n;
    }
    EXPECT_DOUBLE_EQ(dispensers[3]["nozzles"][2]["total"].get<double>(), Station().Nozzle(4, 3).total / 1000.0);
}

TEST_F(HostJson, Totals_LineThatDoesNotOpen_IsAPortErrorForEachOfItsNozzles) {
    StationFile plan = WholeStation(options_.device, 1);
    StationLine missing = plan.lines[0];
    missing.line = 2;
    missing.device = "/nonexistent/ttyUSB7";
    plan.lines.push_back(missing);
    const Output out = Capture([&] { return RunTotals(plan, options_, OutputFormat::Json); });
    EXPECT_EQ(out.code, kExitConfig);
    const json doc = json::parse(out.text);
    ASSERT_EQ(doc["lines"].size(), 2u);
    EXPECT_DOUBLE_EQ(doc["lines"][0]["dispensers"][0]["nozzles"][0]["total"].get<double>(),
                     Station().Nozzle(1, 1).total / 1000.0);
    for (const json& n : doc["lines"][1]["dispensers"][0]["nozzles"]) {
        EXPECT_TRUE(n["total"].is_null());
        EXPECT_NE(n["error"].get<std::string>().find("cannot open /nonexistent/ttyUSB7"), std::string::npos) << n;
    }
}

TEST_F(HostJson, Status_CarriesEachNozzlesOwnStateAndCounters) {
    for (int k = 1; k <= kNozzles; ++k) Deliver(2, k, 1.25 * k);
    Station().ForceStatus(2, 2, sim::kStatusDelivering);
    CommandArgs a;
    a.dispenser = 2;
    a.nozzles = kNozzles;
    const json doc = Run(RunStatus, a);
    EXPECT_EQ(doc["dispenser"], 2);
    EXPECT_EQ(doc["state"]["code"], 0xD8 + 2);
    EXPECT_EQ(doc["state"]["name"], "delivering");
    EXPECT_EQ(doc["stateNozzle"], 2);
    EXPECT_EQ(doc["lineResult"]["code"], 1);
    ASSERT_EQ(doc["nozzles"].size(), static_cast<std::size_t>(kNozzles));
    for (int k = 1; k <= kNozzles; ++k) {
        SCOPED_TRACE(k);
        const json& n = doc["nozzles"][k - 1];
        const auto truth = Station().Nozzle(2, k);
        EXPECT_TRUE(n["polled"].get<bool>());
        EXPECT_DOUBLE_EQ(n["volume"].get<double>(), truth.volume / 1000.0);
        EXPECT_DOUBLE_EQ(n["money"].get<double>(), truth.money / 100.0);
        EXPECT_EQ(n["state"]["name"], k == 2 ? "delivering" : "idle");
        EXPECT_EQ(n["state"]["code"], k == 2 ? 0xD8 + 2 : 0xC0);
    }
    EXPECT_NE(doc["nozzles"][0]["volume"], doc["nozzles"][2]["volume"]);
}

TEST_F(HostJson, Total_IsTheNamedNozzles) {
    CommandArgs a;
    a.dispenser = 3;
    a.nozzle = 2;
    const json doc = Run(RunTotal, a);
    EXPECT_EQ(doc["dispenser"], 3);
    EXPECT_EQ(doc["nozzle"], 2);
    EXPECT_DOUBLE_EQ(doc["total"].get<double>(), Station().Nozzle(3, 2).total / 1000.0);
}

TEST_F(HostJson, ParamRead_IsTheNamedCell) {
    ASSERT_TRUE(Station().SetParameter(2, 1, 3, 4, 4321));
    CommandArgs a;
    a.address = 2;
    a.code = protocol::PackParameterCode(1, 3, 4);
    const json doc = Run(RunParamRead, a);
    EXPECT_EQ(doc["address"], 2);
    EXPECT_EQ(doc["code"], a.code);
    EXPECT_EQ(doc["value"], 4321);
    // A cell the dispenser does not have: no value, not good.
    a.code = protocol::PackParameterCode(9, 1, 1);
    const json missing = Run(RunParamRead, a, kExitNotGood);
    EXPECT_TRUE(missing["value"].is_null());
    EXPECT_NE(missing["lineResult"]["code"], 1);
}

TEST_F(HostJson, Tables_AreTheDispensersDescriptions) {
    CommandArgs a;
    a.address = 1;
    const json doc = Run(RunTables, a);
    const sim::TableSet truth = sim::DefaultTables(static_cast<std::uint16_t>(kNozzles + 5));
    EXPECT_TRUE(doc["complete"].get<bool>());
    ASSERT_EQ(doc["tables"].size(), truth.size());
    for (const json& t : doc["tables"]) {
        const sim::TableSpec& spec = truth.at(t["number"].get<int>());
        EXPECT_EQ(t["name"], spec.name);
        EXPECT_EQ(t["rows"], spec.rows);
        ASSERT_EQ(t["fields"].size(), spec.fields.size());
        for (const json& f : t["fields"]) {
            const sim::FieldSpec& field = spec.fields.at(f["number"].get<std::size_t>() - 1);
            EXPECT_EQ(f["name"], field.name);
            EXPECT_EQ(f["size"], field.width);
            EXPECT_EQ(f["low"], sim::Describe(field).low);
            EXPECT_EQ(f["high"], sim::Describe(field).high);
        }
    }
}

TEST_F(HostJson, InfoScanAndStats_AreWhatTheLineAndDriverSay) {
    const json info = Run(RunInfo, {});
    EXPECT_EQ(info["driver"], "v2.50#Протокол Зенто-М");
    ASSERT_FALSE(info["capabilities"].empty());
    EXPECT_EQ(info["capabilities"].back()["kind"], 7);

    const json scan = Run(RunScan, {});
    ASSERT_EQ(scan["answering"].size(), 2u);  // addresses 1 and 2
    EXPECT_EQ(scan["answering"][1]["address"], 2);
    EXPECT_EQ(scan["answering"][1]["dispensers"], json({3, 4}));

    CommandArgs a;
    a.count = 7;
    a.nozzles = 2;
    const json stats = Run(RunStats, a);
    EXPECT_EQ(stats["polls"], 7);
    EXPECT_TRUE(stats["failures"].empty());
    EXPECT_EQ(stats["statistics"]["exchanges"], 14);  // 7 polls of 2 nozzles
    EXPECT_EQ(stats["statistics"]["good"], 14);
}

}  // namespace
}  // namespace zarvik::host
