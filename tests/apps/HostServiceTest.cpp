// zarvik-host --service prints what zarvik-host --port prints for the same
// dispenser state: the simulator is read on its line first, then through
// zarvikd on the same line (totals), or through a stand-in serving the
// same state as the service's document (status, and a pump the service
// cannot poll now: an error, never its old values).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "CaptureTestSupport.h"
#include "FakeService.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using zarvik::capture::testing::Background;
using zarvik::capture::testing::Finished;
using zarvik::capture::testing::Run;
using zarvik::capture::testing::Started;
using zarvik::capture::testing::TempPath;
using zarvik::test::FakeService;
using zarvik::test::HttpReply;

Finished Host(std::vector<std::string> args) {
    args.insert(args.begin(), ZARVIK_HOST);
    return Run(args);
}

std::string TokenFile() {
    const std::string path = TempPath("service-token");
    std::ofstream(path) << "read 0123456789abcdef0123\n";
    chmod(path.c_str(), 0600);
    return path;
}

std::vector<std::string> Through(const FakeService& service, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--service", "http://127.0.0.1:" + std::to_string(service.Port()), "--token-file", TokenFile()});
    return args;
}

// The time a totals run prints, made the same for both.
std::string WithoutTime(const std::string& text) {
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?[+-]\d\d:\d\d)");
    return std::regex_replace(text, time, "TIME");
}

// Dispensers 1 and 2, three nozzles each; nozzle 2 of dispenser 1 has
// delivered 1.5 L.
struct Sim {
    Sim() {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"price", "50.00"}, {"dose-litres", "1.5"}, {"start"}}) {
            std::vector<std::string> args{"--port", Port(), "-d", "1", "-k", "2"};
            args.insert(args.begin() + 2, command.begin(), command.end());
            const Finished f = Host(args);
            EXPECT_EQ(f.code, 0) << f.err;
        }
        // The delivery runs while the dispenser is polled.
        for (int poll = 0;
             poll < 100 && Host({"--port", Port(), "status", "-n", "3"}).out.find("finished") == std::string::npos;
             ++poll)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Background process{{ZARVIK_SIM, "--no-pacing", "--flow", "20", "--addresses", "1", "--nozzles", "3"}};
    std::string Port() const { return process.FirstLine(); }
};

TEST(HostService, TotalsAsOnTheLineInEveryFormat) {
    Sim sim;
    ASSERT_FALSE(sim.Port().empty());
    const std::vector<std::string> totals{"totals", "--dispensers", "2", "--nozzles", "3"};
    std::vector<std::string> json = {"--port", sim.Port(), "--json"};
    json.insert(json.end(), totals.begin(), totals.end());
    const Finished onLine = Host(json);
    ASSERT_EQ(onLine.code, 0) << onLine.err;
    ASSERT_NE(onLine.out.find("1.5"), std::string::npos) << onLine.out;
    FakeService service(HttpReply(200, onLine.out));
    for (const std::vector<std::string>& format : {std::vector<std::string>{"--json"}, {}, {"--csv"}}) {
        std::vector<std::string> direct = {"--port", sim.Port()}, through = {"totals"};
        direct.insert(direct.end(), totals.begin(), totals.end());
        direct.insert(direct.end(), format.begin(), format.end());
        through.insert(through.end(), format.begin(), format.end());
        const Finished a = Host(direct), b = Host(Through(service, through));
        EXPECT_EQ(b.code, a.code) << b.err;
        EXPECT_EQ(WithoutTime(b.out), WithoutTime(a.out));
        EXPECT_TRUE(service.LastRequest().starts_with("GET /api/v1/totals ")) << service.LastRequest();
    }
}

std::string Write(const std::string& name, const std::string& text) {
    const std::string path = TempPath(name);
    std::ofstream(path) << text;
    return path;
}

// zarvikd on a station file until the object goes; Url() once it listens.
struct Zarvikd {
    explicit Zarvikd(const std::string& station)
        : process({"/bin/sh", "-c", "exec \"$0\" --station \"$1\" --library \"$2\" 2>&1", ZARVIKD, station,
                   ZARVIK_LIBRARY}) {}
    ~Zarvikd() {
        kill(process.Pid(), SIGTERM);
        const Finished f = process.Finish();
        EXPECT_EQ(f.code, 0) << f.out;
    }
    std::string Url() const {
        if (!process.WaitFor("listening on http")) return "";
        std::smatch m;
        const std::string out = process.Out();
        return std::regex_search(out, m, std::regex(R"(listening on (https?://127\.0\.0\.1:\d+))")) ? m[1].str() : "";
    }
    Started process;
};

TEST(HostService, ReadsThroughZarvikdAsOnTheLine) {
    Sim sim;
    ASSERT_FALSE(sim.Port().empty());
    const std::string tokens = TokenFile();
    const std::string station = Write("service-station.json", R"({"name": "АЗС 7", "lines": [{"line": 1, "device": ")" +
                                                                  sim.Port() + R"(", "dispensers": [
        {"number": 1, "nozzles": 3, "name": "ТРК 1", "nozzleNames": ["АИ-92", "АИ-95", "ДТ"]},
        {"number": 2, "nozzles": 3}]}],
        "service": {"listen": "127.0.0.1:0", "journal": {"path": ")" +
                                                                  TempPath("service-sales.db") + R"("},
                    "tokens": ")" + tokens + R"("}})");
    const std::vector<std::vector<std::string>> formats{{"--json"}, {}, {"--csv"}};
    std::vector<Finished> direct;
    for (const std::vector<std::string>& format : formats) {
        std::vector<std::string> args{"--station", station, "totals"};
        args.insert(args.end(), format.begin(), format.end());
        direct.push_back(Host(args));
        ASSERT_EQ(direct.back().code, 0) << direct.back().err;
    }
    ASSERT_NE(direct[0].out.find("1.5"), std::string::npos) << direct[0].out;
    const Finished tables = Host({"--station", station, "tables"}),
                   tablesJson = Host({"--station", station, "--json", "tables"});
    ASSERT_EQ(tables.code, 0) << tables.err;
    const Zarvikd service(station);
    const std::string url = service.Url();
    ASSERT_FALSE(url.empty()) << service.process.Out();
    // The line is the service's now.
    const Finished busy = Host({"--station", station, "totals"});
    EXPECT_NE(busy.out.find("busy"), std::string::npos) << busy.out << busy.err;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        std::vector<std::string> args{"--service", url, "--token-file", tokens, "totals"};
        args.insert(args.end(), formats[i].begin(), formats[i].end());
        const Finished through = Host(args);
        EXPECT_EQ(through.code, 0) << through.err;
        EXPECT_EQ(WithoutTime(through.out), WithoutTime(direct[i].out));
    }
    // The tables as on the line, but for the line result of a session of its own.
    const Finished tablesThrough = Host({"--service", url, "--token-file", tokens, "tables"});
    EXPECT_EQ(tablesThrough.code, 0) << tablesThrough.err;
    EXPECT_EQ(tablesThrough.out, tables.out.substr(0, tables.out.find("line result:")));
    json document = json::parse(tablesJson.out);
    document.erase("lineResult");
    EXPECT_EQ(json::parse(Host({"--service", url, "--token-file", tokens, "--json", "tables"}).out), document);
    const Finished stats = Host({"--service", url, "--token-file", tokens, "stats"});
    EXPECT_EQ(stats.code, 0) << stats.err;
    EXPECT_TRUE(stats.out.starts_with("line 1 statistics: exchanges ")) << stats.out;
    EXPECT_NE(stats.out.find("  health good"), std::string::npos) << stats.out;
}

// Over TLS the service's certificate is checked: against the authority
// --ca-file names it is taken, against the system's it is not.
TEST(HostService, HttpsChecksTheServicesCertificate) {
    Sim sim;
    ASSERT_FALSE(sim.Port().empty());
    const std::string certificate = TempPath("service.pem"), key = TempPath("service.key");
    const Finished made = zarvik::capture::testing::Run(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
         "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    ASSERT_EQ(made.code, 0) << made.err;
    chmod(key.c_str(), 0600);
    const std::string tokens = TokenFile();
    const std::string station = Write("tls-station.json", R"({"lines": [{"line": 1, "device": ")" + sim.Port() +
                                                              R"(", "dispensers": [{"number": 1, "nozzles": 3}]}],
        "service": {"listen": "127.0.0.1:0", "journal": {"path": ")" +
                                                              TempPath("tls-sales.db") + R"("},
                    "tokens": ")" + tokens + R"(",
                    "tls": {"certificate": ")" + certificate + R"(", "key": ")" +
                                                              key + R"("}}})");
    const Zarvikd service(station);
    const std::string url = service.Url();
    ASSERT_TRUE(url.starts_with("https://")) << service.process.Out();
    const Finished trusted = Host({"--service", url, "--token-file", tokens, "--ca-file", certificate, "totals"});
    EXPECT_EQ(trusted.code, 0) << trusted.err;
    EXPECT_TRUE(trusted.out.starts_with("totals at ")) << trusted.out;
    const Finished untrusted = Host({"--service", url, "--token-file", tokens, "totals"});
    EXPECT_EQ(untrusted.code, 4);
    EXPECT_EQ(untrusted.out, "");
    EXPECT_NE(untrusted.err.find("certificate"), std::string::npos) << untrusted.err;
    EXPECT_EQ(
        Host({"--service", "http://127.0.0.1:1", "--token-file", tokens, "--ca-file", certificate, "status"}).code, 2);
}

// The service's pump document for what status --json saw on the line.
json PumpOf(const json& status, bool live) {
    json nozzles = json::array();
    for (const json& n : status["nozzles"])
        nozzles.push_back({{"nozzle", n["number"]},
                           {"name", nullptr},
                           {"state", n["polled"] ? n["state"] : json(nullptr)},
                           {"volume", n.value("volume", json(nullptr))},
                           {"money", n.value("money", json(nullptr))}});
    json fault = live ? json(nullptr) : json{{"cause", "no reply"}, {"at", "2026-12-08T21:50:07.123456+03:00"}};
    return {{"line", 1},
            {"dispenser", 1},
            {"name", nullptr},
            {"live", live},
            {"state", status["state"]},
            {"nozzle", status["stateNozzle"]},
            {"volume", 0},
            {"money", 0},
            {"price", nullptr},
            {"priceSource", nullptr},
            {"polledAt", "2026-12-08T21:50:06.123456+03:00"},
            {"ageMs", 1000},
            {"fault", fault},
            {"nozzles", nozzles}};
}

TEST(HostService, StatusAsOnTheLineAndNeverStale) {
    Sim sim;
    ASSERT_FALSE(sim.Port().empty());
    // The text and the document of one state: read until the dispenser settles.
    const std::vector<std::string> text{"--port", sim.Port(), "status", "--nozzles", "3"};
    Finished direct, onLine;
    for (int i = 0; i < 50; ++i) {
        direct = Host(text);
        onLine = Host({"--port", sim.Port(), "--json", "status", "--nozzles", "3"});
        if (Host(text).out == direct.out) break;
    }
    ASSERT_EQ(onLine.code, 0) << onLine.err;
    const json status = json::parse(onLine.out);
    {
        FakeService service(HttpReply(200, PumpOf(status, true).dump()));
        EXPECT_EQ(Host(Through(service, {"--json", "status"})).out, onLine.out);
        // On the line the text ends with the line result; the service's poll has none of its own.
        EXPECT_EQ(Host(Through(service, {"status"})).out, direct.out.substr(0, direct.out.find("line result:")));
        EXPECT_TRUE(service.LastRequest().starts_with("GET /api/v1/pumps/1/1 ")) << service.LastRequest();
    }
    FakeService stale(HttpReply(200, PumpOf(status, false).dump()));
    const Finished b = Host(Through(stale, {"status"}));
    EXPECT_EQ(b.code, 1);
    EXPECT_EQ(b.out, "");
    EXPECT_NE(b.err.find("no reply (at 2026-12-08T21:50:07.123456+03:00); last good poll at"), std::string::npos)
        << b.err;
}

}  // namespace
