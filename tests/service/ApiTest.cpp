// The API's own answers over a fake state and fake line reads: every class
// of bad request gets its status and code and reaches no line; a pump's
// document never shows a failed or old poll as live.
#include <gtest/gtest.h>

#include "service/Api.h"
#include "service/ApiJson.h"
#include "service/LineJobs.h"
#include "station/StationFile.h"

namespace zarvik::service {
namespace {

const host::StationFile kStation = host::ParseStationFile(
    R"({"lines": [{"line": 1, "device": "/dev/null", "dispensers": [{"number": 1, "nozzles": 3},
                  {"number": 2, "nozzles": 1, "name": "ТРК 2"}]}]})",
    "station.json");

// Counts the reads asked of the lines; each throws what the test sets.
struct FakeReads : LineReads {
    int calls = 0;
    std::function<void()> fail = [] {};
    json Totals(const host::StationLine&, std::optional<int>) override { return Called(), json::object(); }
    json Tables(int, int) override { return Called(), json::object(); }
    std::int32_t Parameter(int, int, std::int32_t) override { return Called(), 7; }
    void Called() {
        ++calls;
        fail();
    }
};

const WallTime kNow = std::chrono::system_clock::from_time_t(1'800'000'000);

struct Fixture {
    StationState state;
    FakeReads reads;
    Api api{kStation, state, reads, {"1.0", kNow, "driver", "{}"}, [] { return kNow; }};
    Fixture() {
        state.AddLine(1);
        state.AddPump(1, 1);
        state.AddPump(1, 2);
    }
    http::Response Get(const std::string& path, const std::string& method = "GET", const std::string& query = "",
                       http::Role role = http::Role::Read) {
        return api.Handle({method, path, query, "", "127.0.0.1:1", role});
    }
};

TEST(Api, BadRequests_GetTheirStatusAndCode_AndReachNoLine) {
    struct Case {
        std::string method, path, query;
        http::Role role;
        int status;
        std::string code;
    };
    const http::Role read = http::Role::Read;
    const std::vector<Case> cases{
        {"GET", "/api/v1/pumps", "", http::Role::None, 401, "unauthorized"},
        {"GET", "/api/v1/nothing", "", read, 404, "not_found"},
        {"GET", "/api/v1/pumps/", "", read, 404, "not_found"},
        {"GET", "/api/v2/pumps", "", read, 404, "not_found"},
        {"GET", "/api/v1/pumps/1/1/totals/x", "", read, 404, "not_found"},
        {"POST", "/api/v1/pumps", "", http::Role::Control, 405, "method_not_allowed"},
        {"DELETE", "/api/v1/pumps/1/1", "", read, 405, "method_not_allowed"},
        {"PUT", "/api/v1/lines/1/dispensers/1/parameters/5", "", read, 405, "method_not_allowed"},
        {"GET", "/api/v1/pumps/x/1", "", read, 400, "bad_request"},
        {"GET", "/api/v1/pumps/1/-1", "", read, 400, "bad_request"},
        {"GET", "/api/v1/pumps/1/+1", "", read, 400, "bad_request"},
        {"GET", "/api/v1/pumps/1/12345678901", "", read, 400, "bad_request"},
        {"GET", "/api/v1/lines/1/dispensers/1/parameters/2147483648", "", read, 400, "bad_request"},
        {"GET", "/api/v1/pumps", "live=1", read, 400, "bad_request"},
        {"GET", "/api/v1/pumps/1/3", "", read, 404, "unknown_pump"},
        {"GET", "/api/v1/pumps/2/1", "", read, 404, "unknown_pump"},
        {"GET", "/api/v1/pumps/1/0/totals", "", read, 404, "unknown_pump"},
        {"GET", "/api/v1/lines/2", "", read, 404, "unknown_line"},
        {"GET", "/api/v1/lines/33/dispensers/1/tables", "", read, 404, "unknown_line"},
        {"GET", "/api/v1/lines/1/dispensers/2/tables", "", read, 404, "unknown_pump"},
    };
    Fixture f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path + "?" + c.query);
        const http::Response r = f.Get(c.path, c.method, c.query, c.role);
        EXPECT_EQ(r.status, c.status);
        const json body = json::parse(r.body);
        EXPECT_EQ(body["code"], c.code);
        EXPECT_TRUE(body["message"].is_string() && !body["message"].get<std::string>().empty());
        EXPECT_EQ(body.size(), 2u);
        if (c.status == 405) {
            EXPECT_EQ(r.headers, (decltype(r.headers){{"Allow", "GET"}}));
        }
    }
    EXPECT_EQ(f.reads.calls, 0);
}

TEST(Api, LineReadFailures_Are502And504_TotalsStay200Incomplete) {
    Fixture f;
    f.reads.fail = [] { throw LineFailure("no reply"); };
    EXPECT_EQ(f.Get("/api/v1/lines/1/dispensers/1/parameters/5").status, 502);
    EXPECT_EQ(json::parse(f.Get("/api/v1/lines/1/dispensers/1/tables").body)["code"], "line_failure");
    f.reads.fail = [] { throw JobTimeout("slow"); };
    const http::Response slow = f.Get("/api/v1/lines/1/dispensers/1/parameters/5");
    EXPECT_EQ(slow.status, 504);
    EXPECT_EQ(json::parse(slow.body)["code"], "line_timeout");
    const http::Response totals = f.Get("/api/v1/pumps/1/2/totals");
    ASSERT_EQ(totals.status, 200);
    const json doc = json::parse(totals.body);
    EXPECT_EQ(doc["complete"], false);
    const json& nozzle = doc["lines"][0]["dispensers"][0]["nozzles"][0];
    EXPECT_EQ(doc["lines"][0]["dispensers"].size(), 1u);
    EXPECT_TRUE(nozzle["total"].is_null());
    EXPECT_EQ(nozzle["error"], "slow");
}

PumpReading Reading(WallTime at, std::uint8_t state, int nozzle) {
    PumpReading r;
    r.at = at;
    r.state = state;
    r.nozzle = nozzle;
    r.nozzleStates = {0xC1, state, 0xC3};
    r.values[0] = PumpReading::Values{9.0, 900.0};  // another nozzle's values
    r.values[1] = PumpReading::Values{2.0, 100.0};
    return r;
}

TEST(Api, Pump_IsLiveOnlyAfterAGoodPoll_AndAFailedPollKeepsTheLastGoodValuesWithTheirAge) {
    Fixture f;
    json pump = json::parse(f.Get("/api/v1/pumps/1/1").body);
    EXPECT_EQ(pump["live"], false);
    for (const char* key : {"state", "volume", "money", "price", "polledAt", "ageMs", "fault"})
        EXPECT_TRUE(pump[key].is_null()) << key << " before any poll";

    const WallTime good = kNow - std::chrono::milliseconds(1500);
    f.state.PollGood(1, 1, Reading(good, 0xDA, 2));
    pump = json::parse(f.Get("/api/v1/pumps/1/1").body);
    EXPECT_EQ(pump["live"], true);
    EXPECT_EQ(pump["nozzle"], 2);
    EXPECT_EQ(pump["state"]["kind"], "delivering");
    EXPECT_EQ(pump["volume"], 2.0) << "the named nozzle's own values";
    EXPECT_EQ(pump["money"], 100.0);
    EXPECT_EQ(pump["price"], 50.0);
    EXPECT_EQ(pump["priceSource"], "derived");
    EXPECT_EQ(pump["nozzles"][0]["volume"], 9.0);
    EXPECT_TRUE(pump["nozzles"][2]["volume"].is_null()) << "nozzle 3 was not polled";
    EXPECT_TRUE(pump["fault"].is_null());

    f.state.PollFailed(1, 1, {"no reply", kNow});
    pump = json::parse(f.Get("/api/v1/pumps/1/1").body);
    EXPECT_EQ(pump["live"], false);
    EXPECT_EQ(pump["fault"]["cause"], "no reply");
    EXPECT_EQ(pump["volume"], 2.0);
    EXPECT_EQ(pump["ageMs"], 1500);
    EXPECT_EQ(pump["polledAt"], json::parse(f.Get("/api/v1/pumps").body)["pumps"][0]["polledAt"]);

    f.state.PollGood(1, 1, Reading(kNow, 0xC0, 0));
    pump = json::parse(f.Get("/api/v1/pumps/1/1").body);
    EXPECT_EQ(pump["live"], true);
    EXPECT_TRUE(pump["fault"].is_null());
    EXPECT_TRUE(pump["volume"].is_null()) << "no nozzle named: no delivery shown";
    EXPECT_TRUE(pump["price"].is_null());
}

TEST(ApiJson, TimeTexts_AreTimeTextsOwn_InKeptSecondsAndNewOnes) {
    using std::chrono::microseconds;
    using std::chrono::seconds;
    TimeTexts times;
    for (const WallTime t :
         {kNow, kNow + microseconds(999'999), kNow + microseconds(7), kNow + seconds(1), kNow - microseconds(1),
          kNow + seconds(2), kNow + seconds(3) + microseconds(120'000), kNow + seconds(4), kNow + microseconds(5),
          kNow + seconds(3), kNow - seconds(86'400 * 180)})
        EXPECT_EQ(times(t), TimeText(t));
}

TEST(Api, Line_IsDeadUntilACycleHasAGoodPoll) {
    Fixture f;
    EXPECT_EQ(json::parse(f.Get("/api/v1/lines/1").body)["health"], "dead");
    for (const auto& [good, failed, health] : {std::tuple{2, 0, "good"}, {1, 1, "failing"}, {0, 2, "dead"}}) {
        f.state.CycleEnded(1, {good, failed, 12.5, true, {}});
        EXPECT_EQ(json::parse(f.Get("/api/v1/lines").body)["lines"][0]["health"], health);
    }
}

}  // namespace
}  // namespace zarvik::service
