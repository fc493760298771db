// The control routes over a fake PumpControl: who may call them, strict
// bodies (nothing reaches the pumps for a bad one), and a dispenser's refusal
// or a dead line never answered as success.
#include <gtest/gtest.h>

#include "service/Api.h"
#include "service/LineJobs.h"
#include "station/StationFile.h"

namespace zarvik::service {
namespace {

const host::StationFile kControlStation = host::ParseStationFile(
    R"({"lines": [{"line": 1, "device": "/dev/null", "dispensers": [{"number": 1, "nozzles": 3}]}]})", "station.json");

struct NoReads : LineReads {
    json Totals(const host::StationLine&, std::optional<int>) override { return {}; }
    json Tables(int, int) override { return {}; }
    std::int32_t Parameter(int, int, std::int32_t) override { return 0; }
};

// Records each call; `stopResult` is what a stop reports for its nozzle.
struct FakeControl : PumpControl {
    std::vector<std::string> calls;
    std::string stopResult = "stopped";
    std::function<void()> fail = [] {};
    json Authorise(const Authorisation& s) override {
        calls.push_back("authorise " + std::to_string(s.nozzle) +
                        (s.kind == PresetKind::Money ? " money " : " litres ") + json(s.amount).dump() + " at " +
                        json(s.price).dump());
        fail();
        return {{"line", 1}, {"dispenser", 1}, {"nozzle", s.nozzle}, {"price", s.price}, {"accepted", true}};
    }
    json Stop(int, int, std::optional<int> nozzle) override {
        calls.push_back("stop " + std::to_string(nozzle.value_or(0)));
        json entry{{"line", 1}, {"dispenser", 1}, {"nozzle", nozzle.value_or(1)}, {"result", stopResult}};
        if (stopResult != "stopped") entry["cause"] = "the cause";
        return {{"stopped", json::array({entry})}, {"complete", stopResult == "stopped"}};
    }
    json EmergencyStop() override { return calls.push_back("emergency"), json{{"stopped", json::array()}}; }
    json SetPrice(int, int, int nozzle, double price) override {
        calls.push_back("price " + std::to_string(nozzle) + " " + json(price).dump());
        return {{"pending", price > 50}};
    }
};

struct ControlFixture {
    StationState state;
    NoReads reads;
    FakeControl control;
    Api api{kControlStation, state, reads, {"1.0", {}, "driver", "{}"}};
    ControlFixture() { api.SetControl(control); }
    http::Response Call(const std::string& method, const std::string& path, const std::string& body,
                        http::Role role = http::Role::Control) {
        return api.Handle({method, path, "", body, "127.0.0.1:1", role});
    }
};

TEST(ControlApi, EachCall_GetsItsStatus_AndOnlyAGoodOneReachesThePumps) {
    struct Case {
        std::string method, path, body;
        http::Role role;
        int status;
        std::string call;  // what reached the pumps, "" for nothing
    };
    const auto control = http::Role::Control;
    const std::string authorise = "/api/v1/pumps/1/1/authorise";
    const std::vector<Case> cases{
        {"POST", authorise, R"({"nozzle": 2, "litres": 10, "price": 52.5})", control, 200,
         "authorise 2 litres 10.0 at 52.5"},
        {"POST", authorise, R"({"nozzle": 3, "money": 500, "price": 50})", control, 200,
         "authorise 3 money 500.0 at 50.0"},
        {"POST", authorise, R"({"nozzle": 2, "litres": 10, "price": 52.5})", http::Role::Read, 403, ""},
        {"GET", authorise, "", control, 405, ""},
        {"POST", authorise, R"({"nozzle": 2, "litres": 10, "price": 52.5)", control, 400, ""},
        {"POST", authorise, R"({"nozzle": 2.5, "litres": 10, "price": 52.5})", control, 400, ""},
        {"POST", authorise, R"({"nozzle": 2, "litres": 0, "price": 52.5})", control, 400, ""},
        {"POST", authorise, R"({"nozzle": 2, "litres": true, "price": 52.5})", control, 400, ""},
        {"POST", authorise, R"({"nozzle": 2, "money": 42949673, "price": 1})", control, 400, ""},
        {"POST", "/api/v1/pumps/1/2/authorise", R"({"nozzle": 1, "litres": 1, "price": 1})", control, 404, ""},
        {"POST", "/api/v1/pumps/1/1/stop", "", control, 200, "stop 0"},
        {"POST", "/api/v1/pumps/1/1/stop", R"({"nozzle": 3})", control, 200, "stop 3"},
        {"POST", "/api/v1/pumps/1/1/stop", R"({"nozzle": 4})", control, 400, ""},
        {"POST", "/api/v1/emergency-stop", "{}", control, 200, "emergency"},
        {"POST", "/api/v1/emergency-stop", R"({"all": true})", control, 400, ""},
        {"GET", "/api/v1/emergency-stop", "", http::Role::Read, 403, ""},
        {"PUT", "/api/v1/pumps/1/1/nozzles/1/price", R"({"price": 45.67})", control, 200, "price 1 45.67"},
        {"PUT", "/api/v1/pumps/1/1/nozzles/1/price", R"({"price": 52.5})", control, 202, "price 1 52.5"},
        {"PUT", "/api/v1/pumps/1/1/nozzles/4/price", R"({"price": 52.5})", control, 404, ""},
        {"PUT", "/api/v1/pumps/1/1/nozzles/1/price", R"({"price": 167772.16})", control, 400, ""},
        {"POST", "/api/v1/pumps/1/1/nozzles/1/price", R"({"price": 1})", control, 405, ""},
    };
    for (const Case& c : cases) {
        ControlFixture f;
        const http::Response r = f.Call(c.method, c.path, c.body, c.role);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.path << " " << c.body << ": " << r.body;
        EXPECT_EQ(f.control.calls, c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call})
            << c.method << " " << c.path << " " << c.body;
    }
}

TEST(ControlApi, ARefusalOrADeadLine_IsNeverAnsweredAsSuccess) {
    ControlFixture f;
    f.control.fail = [] { throw Refused("пуск не принят (результат 10: start refused)"); };
    http::Response r = f.Call("POST", "/api/v1/pumps/1/1/authorise", R"({"nozzle": 1, "litres": 1, "price": 1})");
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(json::parse(r.body)["message"], "пуск не принят (результат 10: start refused)");
    f.control.fail = [] { throw LineFailure("no reply"); };
    EXPECT_EQ(f.Call("POST", "/api/v1/pumps/1/1/authorise", R"({"nozzle": 1, "litres": 1, "price": 1})").status, 502);
    // The journal could not take the sale: nothing was sent, and the cause is said.
    for (const auto& [full, status, code] :
         {std::tuple(true, 507, "journal_full"), std::tuple(false, 503, "journal_failure")}) {
        f.control.fail = [full = full] { throw JournalUnavailable("журнал продаж заполнен", full); };
        r = f.Call("POST", "/api/v1/pumps/1/1/authorise", R"({"nozzle": 1, "litres": 1, "price": 1})");
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(json::parse(r.body)["code"], code);
    }
    for (const auto& [result, status] : {std::pair("refused", 409), std::pair("failed", 502)}) {
        f.control.stopResult = result;
        r = f.Call("POST", "/api/v1/pumps/1/1/stop", R"({"nozzle": 1})");
        EXPECT_EQ(r.status, status) << result;
        EXPECT_EQ(json::parse(r.body)["message"], "the cause");
    }
}

}  // namespace
}  // namespace zarvik::service
