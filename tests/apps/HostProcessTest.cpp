// zarvik-host as scripts run it: a process against zarvik-sim. Every exit
// code, one JSON document on stdout with --json, the station file, the
// exchange log and --version.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "CaptureTestSupport.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using zarvik::capture::testing::Background;
using zarvik::capture::testing::Finished;
using zarvik::capture::testing::Lines;
using zarvik::capture::testing::Run;
using zarvik::capture::testing::Started;
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
        {"log into a missing folder",
         {""},
         {"--log", TempPath("no-folder") + "/x.log", "status"},
         4,
         "no-folder/x.log: its folder does not exist"},
        {"no reply, its cause first",
         {"--fault", "drop", "--fault-next", "1"},
         {"status"},
         1,
         "zarvik-host: no reply from address 1 on /dev/pts/\\d+ within 300 ms \\(error 300; driver: "
         "\"Невозможно выполнить запрос состояния ТРК\"\\)"},
        {"mistyped command", {}, {"stauts"}, 2, "no command \"stauts\": did you mean status\\?"},
        {"mistyped option", {}, {"--prot", "x", "status"}, 2, "no option --prot: did you mean --port\\?"},
        {"one nozzle where a count is taken", {}, {"status", "--nozzle", "2"}, 2, "status takes a count, --nozzles/-n"},
        {"a count where one nozzle is taken", {}, {"total", "-n", "2"}, 2, "total takes one nozzle, --nozzle/-k"},
        {"decimal comma", {""}, {"price", "-d", "1", "-k", "1", "56,30"}, 0, "line result: 1 \\(good\\)"},
        {"digit groups", {}, {"price", "-d", "1", "-k", "1", "1,000.50"}, 2, "more than one separator"},
        {"not a number", {}, {"dose-money", "-d", "1", "-k", "1", "1e400"}, 2, "\"1e400\" is not a number"},
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
        // No refusal quotes the range of a double.
        EXPECT_FALSE(std::regex_search(f.err, std::regex("\\d{20}|e\\+308"))) << f.err;
    }
}

// --capture and --log never replace, follow or wait on what is there:
// an existing file, a symbolic link (to a file or nowhere) and a FIFO are
// refused at once and left as they were; --overwrite replaces a regular
// file; a log appends to a regular file; --station refuses a FIFO too.
TEST(HostFiles, CaptureLogAndStationTakeOnlyRegularFilesAndReplaceNothing) {
    const std::string file = Write("earlier.pcap", "earlier");
    const std::string link = TempPath("link.pcap");
    const std::string dangling = TempPath("dangling.pcap");
    const std::string fifo = TempPath("fifo");
    std::filesystem::create_symlink(file, link);
    std::filesystem::create_symlink(TempPath("nowhere"), dangling);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::vector<std::string> args;
        const char* pattern;
    };
    const Case cases[] = {
        {{"--capture", file}, "earlier.pcap: exists; it is left as it is \\(--overwrite replaces it\\)"},
        {{"--capture", link}, "link.pcap: is a symbolic link; it is not followed"},
        {{"--capture", dangling}, "dangling.pcap: is a symbolic link; it is not followed"},
        {{"--capture", fifo, "--overwrite"}, "fifo: is not a regular file"},
        {{"--capture", fifo}, "fifo: is not a regular file"},
        {{"--log", link}, "link.pcap: it is a symbolic link; it is not followed"},
        {{"--log", fifo}, "fifo: not a regular file"},
        {{"--station", fifo}, "fifo: \\$: is not a regular file"},
    };
    Sim sim;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args = c.args;
        if (c.args[0] != "--station") args.insert(args.end(), {"--port", sim.Port()});
        args.push_back("status");
        const Finished f = Host(args);
        EXPECT_EQ(f.code, 4) << f.out << f.err;
        EXPECT_TRUE(std::regex_search(f.err, std::regex(c.pattern))) << f.err;
        EXPECT_EQ(Lines(f.out).size(), 0u) << f.out;
    }
    EXPECT_FALSE(std::filesystem::exists(TempPath("nowhere")));
    std::ifstream earlier(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), std::istreambuf_iterator<char>()), "earlier");

    EXPECT_EQ(Host({"--capture", file, "--overwrite", "--port", sim.Port(), "status"}).code, 0);
    EXPECT_GT(std::filesystem::file_size(file), 24u) << "a pcap header and records";
    const std::string log = Write("earlier.log", "earlier\n");
    EXPECT_EQ(Host({"--log", log, "--port", sim.Port(), "status"}).code, 0);
    std::ifstream logged(log);
    std::string first;
    std::getline(logged, first);
    EXPECT_EQ(first, "earlier");
    // A usage error is found before the capture is made.
    const std::string unmade = TempPath("unmade.pcap");
    EXPECT_EQ(Host({"--capture", unmade, "--port", sim.Port(), "price", "-d", "1", "-k", "1", "1.000,5"}).code, 2);
    EXPECT_FALSE(std::filesystem::exists(unmade));
}

// Waits (at most 10 s) until the process catches SIGNAL: a signal sent before
// its handler is in place ends it like any program, which says nothing of ours.
bool CatchesSignal(pid_t pid, int signal) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Signals sent while a command runs: it ends between two exchanges with exit
// code 5 and prints what it has (totals, stats) or undoes what it started (demo).
TEST(HostSignals, InterruptedCommandsPrintWhatTheyHaveAndStopWhatTheyStarted) {
    Sim silent({"--fault", "drop", "--fault-rate", "1"});
    Sim sim;
    {
        Started totals({kHost, "--port", silent.Port(), "totals", "--dispensers", "32", "--nozzles", "6"});
        ASSERT_TRUE(CatchesSignal(totals.Pid(), SIGINT));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(totals.Pid(), SIGINT);
        const Finished f = totals.Finish();
        EXPECT_EQ(f.code, 5) << f.out << f.err;
        EXPECT_NE(f.out.find("not read: interrupted by SIGINT"), std::string::npos) << f.out;
        EXPECT_NE(f.out.find("192 nozzle(s), 192 not read"), std::string::npos) << f.out;
    }
    {
        Started stats({kHost, "--port", sim.Port(), "stats", "--polls", "100000"});
        ASSERT_TRUE(CatchesSignal(stats.Pid(), SIGTERM));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(stats.Pid(), SIGTERM);
        const Finished f = stats.Finish();
        EXPECT_EQ(f.code, 5) << f.out << f.err;
        EXPECT_TRUE(std::regex_search(f.out, std::regex("interrupted by SIGTERM after \\d+ of 100000 poll\\(s\\)\n"
                                                        "line 1 statistics: exchanges \\d+")))
            << f.out;
    }
    {
        Started demo({kHost, "demo"});
        ASSERT_TRUE(demo.WaitFor("start: line result: 1 (good)\n")) << demo.Out();
        kill(demo.Pid(), SIGHUP);
        const Finished f = demo.Finish();
        EXPECT_EQ(f.code, 5) << f.out << f.err;
        EXPECT_TRUE(std::regex_search(f.out, std::regex("interrupted by SIGHUP after [0-9.]+ L for [0-9.]+; stopping "
                                                        "nozzle 1: line result: 1 \\(good\\)")))
            << f.out;
    }
}

TEST(SimCommandLine, VersionAndUsageErrors) {
    const Finished version = zarvik::capture::testing::Run({kSim, "--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out, std::string("zarvik-sim ") + ZARVIK_VERSION + "\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{kSim, "--bogus"}, {kSim, "--fault", "nonsense"}, {kSim, "--nozzles", "9"}}) {
        const Finished f = zarvik::capture::testing::Run(args);
        EXPECT_EQ(f.code, 2) << args[1] << ": " << f.err;
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

// watch prints each nozzle's values from that nozzle's own status reply, and
// after a failure no values at all; every line starts with its time.
TEST(HostWatch, ShowsOnlyValuesThatAreCurrentAndTheirs) {
    const std::regex time("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d ");
    {
        // Nozzle 2 started by another process: this one never started a nozzle.
        Sim sim({"--flow", "0.5"});
        ASSERT_EQ(Host({"--port", sim.Port(), "dose-litres", "-d", "1", "-k", "2", "50"}).code, 0);
        ASSERT_EQ(Host({"--port", sim.Port(), "start", "-d", "1", "-k", "2"}).code, 0);
        const Finished f = Host({"--port", sim.Port(), "watch", "-d", "1", "-n", "2", "--count", "12"});
        EXPECT_EQ(f.code, 0) << f.out << f.err;
        double litres = 0;
        std::smatch m;
        for (const std::string& line : Lines(f.out)) {
            if (line.rfind("line result", 0) == 0) continue;
            EXPECT_TRUE(std::regex_search(line, time)) << line;
            if (std::regex_search(line, m, std::regex(R"(nozzle 2: 218 \(0xDA\) delivering, (\d+\.\d+) L, )")))
                litres = std::stod(m[1]);
        }
        EXPECT_GT(litres, 0.0) << f.out;
    }
    {
        Sim sim({"--fault", "checksum", "--fault-rate", "1"});
        const Finished f = Host({"--port", sim.Port(), "watch", "--count", "3"});
        EXPECT_EQ(f.code, 3) << f.out << f.err;
        const auto lines = Lines(f.out);
        ASSERT_GE(lines.size(), 2u) << f.out;
        EXPECT_TRUE(std::regex_search(lines[0], time)) << lines[0];
        EXPECT_NE(lines[0].find("bad reply (line result 3), line error"), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("no current values, last good reading none"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].find(" L"), std::string::npos) << lines[0];
    }
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
