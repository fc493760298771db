// Head office's commands decided without a broker: strict parsing, expiry,
// repeated ids, and exactly one reply each; and the times they carry.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "hostkit/IsoTime.h"
#include "telemetry/Commands.h"

namespace zarvik::telemetry {
namespace {

using nlohmann::json;
using std::chrono::seconds;

const WallTime kNow = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + std::chrono::hours(10);

struct FakePrices final : PriceSetter {
    std::vector<std::string> set;
    bool SetPrice(int line, int dispenser, int nozzle, double price) override {
        if (line == 9) throw std::runtime_error("no line 9");
        set.push_back(std::to_string(line) + "/" + std::to_string(dispenser) + "/" + std::to_string(nozzle) + "=" +
                      std::to_string(price));
        return true;
    }
};

struct FakeRegister final : CommandRegister {
    std::map<std::string, WallTime> ids;
    bool Remember(const std::string& id, WallTime expires, WallTime) override {
        return ids.emplace(id, expires).second;
    }
};

TEST(CommandTest, EachCommandAppliedOnlyWhenWellFormedFreshAndNew) {
    struct Case {
        const char* name;
        std::string payload;
        const char* result;
        json id;
        std::size_t pricesSet;  // after this case, in total
    };
    const std::string later = "\"expires\": \"2026-12-09T13:05:00+03:00\"";  // 5 minutes after kNow
    const std::vector<Case> cases = {
        {"price",
         R"({"id": "a", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": 52.5, )" + later + "}",
         "applied", "a", 1},
        {"same id again",
         R"({"id": "a", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": 60, )" + later + "}",
         "refused", "a", 1},
        {"expired",
         R"({"id": "b", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": 60, "expires": "2026-12-09T09:59:59Z"})",
         "refused", "b", 1},
        {"expired now", R"({"id": "b2", "type": "totals", "expires": "2026-12-09T10:00:00Z"})", "refused", "b2", 1},
        {"unknown key",
         R"({"id": "c", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": 60, "grade": 95, )" +
             later + "}",
         "refused", "c", 1},
        {"price as text",
         R"({"id": "d", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": "60", )" + later + "}",
         "refused", "d", 1},
        {"nozzle 7",
         R"({"id": "e", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 7, "price": 60, )" + later + "}",
         "refused", "e", 1},
        {"no price", R"({"id": "f", "type": "set-price", "line": 1, "dispenser": 2, "nozzle": 1, )" + later + "}",
         "refused", "f", 1},
        {"no expiry", R"({"id": "g", "type": "totals"})", "refused", "g", 1},
        {"expiry without offset", R"({"id": "h", "type": "totals", "expires": "2026-12-09T13:05:00"})", "refused", "h",
         1},
        {"no id", R"({"type": "totals", )" + later + "}", "refused", nullptr, 1},
        {"not JSON", "set price 60", "refused", nullptr, 1},
        {"too long", R"({"id": "m", "type": "totals", )" + later + R"(, "pad": ")" + std::string(5000, ' ') + "\"}",
         "refused", nullptr, 1},
        {"unknown type", R"({"id": "i", "type": "reboot", )" + later + "}", "refused", "i", 1},
        {"line refuses",
         R"({"id": "j", "type": "set-price", "line": 9, "dispenser": 2, "nozzle": 3, "price": 60, )" + later + "}",
         "refused", "j", 1},
        {"totals", R"({"id": "k", "type": "totals", )" + later + "}", "applied", "k", 1},
        {"another price",
         R"({"id": "l", "type": "set-price", "line": 1, "dispenser": 1, "nozzle": 1, "price": 1, "expires": "2026-12-09T10:00:00.5Z"})",
         "applied", "l", 2},
    };
    FakePrices prices;
    FakeRegister ids;
    int totals = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const json reply = json::parse(HandleCommand(c.payload, kNow, ids, prices, [&totals] { ++totals; }));
        EXPECT_EQ(reply.at("result"), c.result);
        EXPECT_EQ(reply.at("id"), c.id);
        EXPECT_EQ(reply.at("cause").is_string(), std::string(c.result) == "refused") << reply.dump();
        EXPECT_EQ(prices.set.size(), c.pricesSet);
    }
    EXPECT_EQ(prices.set.front(), "1/2/3=52.500000");
    EXPECT_EQ(totals, 1);
}

TEST(CommandTest, IsoTimes_WithOffsetOrZ_OthersRefused) {
    const struct {
        const char* text;
        std::optional<WallTime> at;
    } cases[] = {
        {"2026-12-09T10:00:00Z", kNow},
        {"2026-12-09T13:30:00+03:30", kNow},
        {"2026-12-09T05:00:00.25-05:00", kNow + std::chrono::milliseconds(250)},
        {"2026-12-09T10:00:00.1234567Z", kNow + std::chrono::microseconds(123456)},
        {"2026-12-09 10:00:00Z", std::nullopt},
        {"2026-13-09T10:00:00Z", std::nullopt},
        {"2026-12-09T10:00:00.Z", std::nullopt},
        {"2026-12-09T10:00:00+0300", std::nullopt},
        {"2026-12-09T10:00:00Zjunk", std::nullopt},
        {"2026-02-31T10:00:00Z", std::nullopt},  // no such day: not 3 March
        {"2026-12-09T10:00:00", std::nullopt},   // a command's expiry needs its zone
    };
    for (const auto& c : cases) EXPECT_EQ(host::ParseIsoTime(c.text), c.at) << c.text;
    // Without a zone, local time when the caller takes that (written back as the same local time).
    const auto local = host::ParseIsoTime("2026-12-09T10:00:00", host::MissingZone::LocalTime);
    ASSERT_TRUE(local);
    EXPECT_EQ(host::IsoTime(*local).substr(0, 19), "2026-12-09T10:00:00");
}

}  // namespace
}  // namespace zarvik::telemetry
