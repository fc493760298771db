// zarvik-host as scripts run it: a process against zarvik-sim. Every exit
// code, one JSON document on stdout with --json, the station file, the
// exchange log and --version.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "CaptureTestSupport.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using zarvik::capture::testing::Background;
using zarvik::capture::testing::Finished;
using zarvik::capture::testing::Lines;
using zarvik::capture::testing::Run;
using zarvik::capture::testing::TempPath;

const std::string kHost = ZARVIK_HOST;
const std::string kSim = ZARVIK_SIM;

Finished Host(std::vector<std::string> args) {
    args.insert(args.begin(), kHost);
    return Run(args);
}

std::string Write(const std::string& name, const std::string& text) {
    const std::string path = TempPath(name);
    std::ofstream(path) << text;
    return path;
}

// One simulated line; its requests counted when it stops.
struct Sim {
    explicit Sim(std::vector<std::string> args = {})
        : process([&] {
              args.insert(args.begin(), {kSim, "--no-pacing"});
              return args;
          }()) {}
    const std::string& Port() const { return process.FirstLine(); }
    Background process;
};

// The simulator's closing report: "requests N, ...".
int RequestsSeen(Sim& sim) {
    std::smatch m;
    const std::string report = sim.process.Stop();
    return std::regex_search(report, m, std::regex(R"(requests (\d+))")) ? std::stoi(m[1]) : -1;
}

struct ExitCase {
    const char* name;
    std::vector<std::string> sim;   // empty: no simulator; {""}: one without faults
    std::vector<std::string> args;  // "PORT" is the simulator's device
    int code;
    const char* pattern;  // in stdout + stderr
};

TEST(HostExitCodes, EachOutcomeHasItsCode) {
    const std::string badStation = Write("bad-station.json", R"({"lines": [{"line": 1, "device": "x", "baud": 1}]})");
    const std::string notAFolder = Write("not-a-folder", "x");
    const ExitCase cases[] = {
        {"good", {""}, {"status"}, 0, "line result: 1 \\(good\\)"},
        {"help", {}, {"--help"}, 0, "Exit codes:"},
        {"no reply",
         {"--fault", "drop", "--fault-next", "1"},
         {"status"},
         1,
         "Невозможно выполнить запрос состояния ТРК"},
        {"unknown command", {}, {"bogus"}, 2, "subcommand is required"},
        {"option out of range", {}, {"status", "--dispenser", "40"}, 2, "dispenser"},
        {"value the driver refuses",
         {""},
         {"dose-litres", "-d", "1", "-k", "1", "99999999"},
         2,
         "не помещается в поле команды"},
        {"json where there is none", {}, {"--json", "start", "-d", "1", "-k", "1"}, 2, "--json is for info"},
        {"totals without its dispensers", {""}, {"totals"}, 2, "give --dispensers N and --nozzles K"},
        {"csv and json", {""}, {"--json", "totals", "--csv", "--dispensers", "1", "-n", "1"}, 2, "not both"},
        {"no device", {}, {"status"}, 2, "no device: give --port DEVICE or --station FILE"},
        {"bad reply", {"--fault", "checksum", "--fault-next", "1"}, {"status"}, 3, "line result: 3"},
        {"refused start", {""}, {"start", "-d", "1", "-k", "1"}, 3, "line result: 10 \\(start refused\\)"},
        {"refused stop",
         {"--fault", "refuse-stop", "--fault-next", "1"},
         {"stop", "-d", "1", "-k", "1"},
         3,
         "line result: 14 \\(stop refused\\)"},
        {"refused write",
         {"--fault", "refuse-write", "--fault-next", "1"},
         {"param-write", "-c", "1010101", "1"},
         3,
         "line result: 3"},
        {"refused total: no such nozzle", {""}, {"total", "-d", "1", "-k", "4"}, 3, "line result: 4 \\(refused\\)"},
        {"refused price",
         {"--fault", "refusal", "--fault-next", "1"},
         {"price", "-d", "1", "-k", "1", "45.67"},
         3,
         "line result: 4 \\(refused\\)"},
        {"total answered for another nozzle",
         {"--fault", "other-nozzle", "--fault-next", "1"},
         {"total", "-d", "1", "-k", "1"},
         1,
         "Невозможно выполнить запрос состояния ТРК"},
        {"device that does not open", {}, {"--port", "/nonexistent/ttyUSB9", "status"}, 4, "no such device"},
        {"library that does not load", {""}, {"--library", "/nonexistent/libZarvikTrk.so", "status"}, 4, "cannot load"},
        {"station file missing", {}, {"--station", "/nonexistent/station.json", "status"}, 4, "\\$: cannot be read"},
        {"station file wrong",
         {},
         {"--station", badStation, "status"},
         4,
         "\\$\\.lines\\[0\\]\\.baud: must be an integer from 1200 to 230400, is 1"},
        {"log that cannot be written", {""}, {"--log", notAFolder + "/x.log", "status"}, 4, "cannot write the log"},
        {"capture that cannot be written", {""}, {"--capture", notAFolder + "/x.pcap", "status"}, 4, "x.pcap"},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Sim> sim;
        std::vector<std::string> args = c.args;
        if (!c.sim.empty()) {
            sim.emplace(c.sim.front().empty() ? std::vector<std::string>{} : c.sim);
            ASSERT_NE(sim->Port(), "");
            args.insert(args.begin(), {"--port", sim->Port()});
        }
        const Finished f = Host(args);
        EXPECT_EQ(f.code, c.code) << f.out << f.err;
        EXPECT_TRUE(std::regex_search(f.out + f.err, std::regex(c.pattern))) << f.out << f.err;
    }
}

// Commands that change a dispenser name it and its nozzle; without them
// nothing is sent.
TEST(HostExitCodes, ActionsWithoutDispenserOrNozzle_AreUsageErrorsAndSendNothing) {
    const std::vector<std::vector<std::string>> actions = {
        {"start"}, {"stop"}, {"reset"}, {"dose-litres", "5"}, {"dose-money", "100"}, {"price", "50"}};
    for (const auto& action : actions) {
        for (const std::vector<std::string>& given :
             {std::vector<std::string>{}, {"--dispenser", "1"}, {"--nozzle", "1"}}) {
            SCOPED_TRACE(action[0] + (given.empty() ? "" : " " + given[0]));
            Sim sim;
            std::vector<std::string> args = {"--port", sim.Port(), action[0]};
            args.insert(args.end(), given.begin(), given.end());
            args.insert(args.end(), action.begin() + 1, action.end());
            const Finished f = Host(args);
            EXPECT_EQ(f.code, 2) << f.out << f.err;
            EXPECT_TRUE(std::regex_search(f.err, std::regex("--(dispenser|nozzle) is required"))) << f.err;
            EXPECT_EQ(RequestsSeen(sim), 0);
        }
    }
}

TEST(HostJson, EachCommandPrintsExactlyOneDocument) {
    Sim sim;
    ASSERT_NE(sim.Port(), "");
    struct Case {
        std::vector<std::string> args;
        const char* key;  // a key the document has
    };
    const Case cases[] = {
        {{"info"}, "driver"},
        {{"status", "-n", "3"}, "nozzles"},
        {{"total", "-d", "2", "-k", "3"}, "total"},
        {{"totals", "--dispensers", "4", "-n", "3"}, "lines"},
        {{"scan"}, "answering"},
        {{"stats", "--polls", "3"}, "statistics"},
        {{"param-read", "-c", "1010101"}, "value"},
        {{"tables"}, "tables"},
        {{"--stats", "status"}, "statistics"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"--json", "--port", sim.Port()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Finished f = Host(args);
        EXPECT_EQ(f.code, 0) << f.err;
        EXPECT_EQ(f.err, "");
        json doc;
        ASSERT_NO_THROW(doc = json::parse(f.out)) << f.out;
        EXPECT_TRUE(doc.is_object());
        EXPECT_TRUE(doc.contains(c.key)) << doc.dump();
    }
}

TEST(HostJson, FailedExchange_LeavesStdoutEmptyAndKeepsItsCode) {
    Sim sim({"--fault", "drop", "--fault-rate", "1"});
    const Finished f = Host({"--json", "--port", sim.Port(), "total", "-d", "1", "-k", "1"});
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "");
    EXPECT_NE(f.err.find("zarvik-host: "), std::string::npos) << f.err;
}

TEST(HostJson, NotGoodResult_IsADocumentWithExitCode3) {
    Sim sim({"--fault", "checksum", "--fault-next", "1"});
    const Finished f = Host({"--json", "--port", sim.Port(), "total", "-d", "1", "-k", "1"});
    EXPECT_EQ(f.code, 3);
    const json doc = json::parse(f.out);
    EXPECT_TRUE(doc["total"].is_null());
    EXPECT_EQ(doc["lineResult"]["code"], 3);
    EXPECT_EQ(doc["lineResult"]["lineError"], 222);
}

std::string StationFile(const std::string& one, const std::string& two) {
    return R"({"name": "Test", "lines": [
      {"line": 1, "device": ")" +
           one + R"(", "dispensers": [{"number": 1, "nozzles": 3}, {"number": 2, "nozzles": 1}]},
      {"line": 2, "device": ")" +
           two + R"(", "baud": 19200, "timeouts": {"responseMs": 200},
       "dispensers": [{"number": 1, "nozzles": 2, "name": "ТРК 1", "nozzleNames": ["АИ-92", "АИ-95"]}]}]})";
}

TEST(HostStation, CommandsTakeTheirLineDeviceAndDispensersFromTheFile) {
    Sim one, two;
    const std::string station = Write("station.json", StationFile(one.Port(), two.Port()));

    const Finished totals = Host({"--station", station, "--json", "totals"});
    ASSERT_EQ(totals.code, 0) << totals.err;
    const json doc = json::parse(totals.out);
    EXPECT_EQ(doc["station"], "Test");
    ASSERT_EQ(doc["lines"].size(), 2u);
    EXPECT_EQ(doc["lines"][0]["device"], one.Port());
    EXPECT_EQ(doc["lines"][0]["dispensers"][0]["nozzles"].size(), 3u);
    EXPECT_EQ(doc["lines"][0]["dispensers"][1]["nozzles"].size(), 1u);
    EXPECT_EQ(doc["lines"][1]["dispensers"][0]["nozzles"][1]["name"], "АИ-95");

    // --line picks one; status polls the dispenser's nozzles from the file.
    const Finished status = Host({"--station", station, "--line", "2", "--json", "status", "-d", "1"});
    ASSERT_EQ(status.code, 0) << status.err;
    EXPECT_EQ(json::parse(status.out)["nozzles"].size(), 2u);
    const Finished text = Host({"--station", station, "--line", "2", "totals"});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("ТРК 1, АИ-95"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("   1         2 "), std::string::npos) << "only line 2: " << text.out;

    struct Refused {
        std::vector<std::string> args;
        const char* message;
    };
    const Refused refused[] = {
        {{"status"}, "has lines 1, 2: choose one with --line"},
        {{"--line", "3", "status"}, "line 3 is not in"},
        {{"--line", "1", "status", "-d", "4"}, "dispenser 4 is not on line 1"},
        {{"--line", "2", "start", "-d", "1", "-k", "3"}, "dispenser 1 on line 2 of .* has 2 nozzle\\(s\\)"},
        {{"--line", "1", "status", "-d", "2", "-n", "2"}, "has 1 nozzle\\(s\\)"},
        {{"--port", one.Port(), "status"}, "excludes"},
        {{"totals", "--dispensers", "2", "-n", "1"}, "the station file names the dispensers"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.message);
        std::vector<std::string> args = {"--station", station};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const Finished f = Host(args);
        EXPECT_EQ(f.code, 2) << f.out << f.err;
        EXPECT_TRUE(std::regex_search(f.err, std::regex(r.message))) << f.err;
    }
}

TEST(HostLog, EveryExchangeIsAppendedWithItsOutcome) {
    const std::string log = TempPath("exchanges.log");
    {
        Sim sim;
        ASSERT_EQ(Host({"--log", log, "--port", sim.Port(), "status", "-n", "2"}).code, 0);
    }
    {
        Sim sim({"--fault", "drop", "--fault-next", "1"});
        ASSERT_EQ(Host({"--log", log, "--port", sim.Port(), "status"}).code, 1);
    }
    ASSERT_EQ(Host({"--log", log, "--port", "/nonexistent/ttyUSB3", "status"}).code, 4);
    const auto lines = Lines([&] {
        std::ifstream in(log);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }());
    const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} line 1 )";
    const std::string frame = R"([0-9A-F]{2}(?: [0-9A-F]{2})*)";
    const std::vector<std::string> patterns = {
        "open /dev/pts/\\d+ \\[good\\]",
        "sent 02 .. 01 02 9F 00 .. \\[good\\]",
        "received " + frame + " \\[good\\]",
        "sent 02 .. 01 02 9F 01 .. \\[good\\]",
        "received " + frame + " \\[good\\]",
        "open /dev/pts/\\d+ \\[good\\]",
        "sent 02 .. 01 02 9F 00 .. \\[no reply: .* \\(300\\)\\]",
        "open /nonexistent/ttyUSB3 \\[failed: .* \\(302\\): no such device\\]",
    };
    ASSERT_EQ(lines.size(), patterns.size()) << [&] {
        std::string all;
        for (const auto& l : lines) all += l + '\n';
        return all;
    }();
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(time + patterns[i]))) << lines[i];
}

// A log at its size limit is rotated by the next record: the old records go
// to FILE.1.log whole, the oldest kept file beyond --log-files is dropped,
// and FILE starts again with the new exchanges.
TEST(HostLog, FullLogIsRotatedAndOnlyTheKeptFilesRemain) {
    const std::string log = TempPath("rotating.log");
    const std::string first = TempPath("rotating.1.log");
    const std::string second = TempPath("rotating.2.log");
    std::filesystem::remove(second);
    const std::string old(1024 * 1024 - 10, 'o');  // a record more and it is past 1 MiB
    std::ofstream(log, std::ios::binary) << old;
    std::ofstream(first, std::ios::binary) << "older\n";
    {
        Sim sim;
        const Finished f = Host({"--log", log, "--log-size", "1", "--log-files", "1", "--port", sim.Port(), "status"});
        ASSERT_EQ(f.code, 0) << f.err;
    }
    const auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(read(first), old) << "the full file, moved whole";
    EXPECT_FALSE(std::filesystem::exists(second)) << "one rotated file kept";
    const auto lines = Lines(read(log));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(" line 1 open /dev/pts/\\d+ \\[good\\]$"))) << lines[0];
    for (const auto& line : lines) EXPECT_EQ(line.find("older"), std::string::npos);
}

TEST(HostVersion, NamesToolLibraryAndDriver) {
    const Finished f = Host({"--version"});
    EXPECT_EQ(f.code, 0) << f.err;
    const auto lines = Lines(f.out);
    ASSERT_EQ(lines.size(), 3u) << f.out;
    EXPECT_EQ(lines[0], std::string("zarvik-host ") + ZARVIK_VERSION);
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(std::string("library: ZarvikTrk ") + ZARVIK_VERSION + ", /.*libZarvikTrk\\.so.*")))
        << lines[1];
    EXPECT_EQ(lines[2], "driver: v2.50#Протокол Зенто-М");

    const Finished missing = Host({"--library", "/nonexistent/libZarvikTrk.so", "--version"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_NE(missing.err.find("cannot load /nonexistent/libZarvikTrk.so"), std::string::npos) << missing.err;
}

}  // namespace
