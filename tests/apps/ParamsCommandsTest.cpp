// param-write, params-dump and params-restore run as processes against a
// simulated dispenser served in this test over a pseudo-terminal. The
// dispenser side counts every request by command, so "nothing written" is
// seen where it counts: no 0x1E request arrived.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ParamsTestSupport.h"
#include "ToolRunner.h"
#include "backup/ParamsDocument.h"
#include "sim/ParameterTables.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace zarvik::host {
namespace {

using capture::testing::Finished;
using nlohmann::json;

constexpr std::uint8_t kWrite = 0x1E;
constexpr std::uint8_t kRead = 0x1F;
constexpr std::uint8_t kFieldInfo = 0x2E;
constexpr std::uint8_t kTableInfo = 0x2D;
const std::string kHost = ZARVIK_HOST;

// The built-in tables of the simulator: 12, 21 and 3 fields.
constexpr int kFieldsOfTable[] = {0, 12, 21, 3};

// A simulated station on a pseudo-terminal that counts the requests it gets.
class CountingStation {
public:
    CountingStation()
        : endpoint_(
              [this](const std::uint8_t* frame, std::size_t length, sim::TimePoint now) {
                  if (length > 4) ++requests_[frame[4]];
                  if (length > 4 && frame[4] == kWrite && onWrite_) onWrite_(requests_[kWrite].load());
                  auto reply = station_.Handle(frame, length, now);
                  if (reply && length > 6 && frame[4] == kFieldInfo && frame[5] == 1 &&
                      frame[6] == widthZeroField_.load())
                      DescribeWidthZero(reply->bytes);
                  if (reply && length > 5 && frame[4] == kTableInfo && frame[5] == 1 && !table1Name_.empty())
                      Rename(reply->bytes, table1Name_);
                  return reply;
              },
              sim::EndpointOptions{.pacing = false}) {
        path_ = endpoint_.OpenPty();
        endpoint_.Start();
    }
    ~CountingStation() { endpoint_.Stop(); }

    sim::Station& Station() { return station_; }
    const std::string& Path() const { return path_; }
    int Requests(std::uint8_t command) const { return requests_[command].load(); }
    // From now on table 1 is described with this name (code page 1251 bytes).
    void NameTable1(std::string name) { table1Name_ = std::move(name); }
    // Called with the count of writes so far as each write arrives, before its reply.
    void OnWrite(std::function<void(int)> hook) { onWrite_ = std::move(hook); }
    // From now on table 1 field `field` is described with width 0.
    void DescribeWithWidthZero(int field) { widthZeroField_ = field; }

    // Every value of address 1, row 1, in table and field order.
    std::vector<std::uint32_t> Values(std::uint8_t address = 1, int row = 1) const {
        std::vector<std::uint32_t> values;
        for (int t = 1; t <= 3; ++t)
            for (int f = 1; f <= kFieldsOfTable[t]; ++f)
                values.push_back(station_.Parameter(address, t, row, f).value());
        return values;
    }

private:
    // A field description (LEN 44: name, type, width) with width 0 and so no
    // limit bytes; the width is the last data byte, at 47.
    static void DescribeWidthZero(std::vector<std::uint8_t>& bytes) {
        constexpr std::size_t kLen = 44, kWidthAt = 47, kChecksumAt = 48;
        if (bytes.size() <= kChecksumAt) return;
        bytes.resize(kChecksumAt + 1);
        bytes[3] = kLen;
        bytes[kWidthAt] = 0;
        std::uint8_t x = 0;
        for (std::size_t i = 1; i < kChecksumAt; ++i) x ^= bytes[i];
        bytes[kChecksumAt] = x;
    }
    // The name bytes 6..45 of a description reply, then the checksum again.
    static void Rename(std::vector<std::uint8_t>& bytes, const std::string& name) {
        constexpr std::size_t kNameAt = 6, kNameSize = 40;
        if (bytes.size() < kNameAt + kNameSize + 1) return;
        for (std::size_t i = 0; i < kNameSize; ++i)
            bytes[kNameAt + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0;
        std::uint8_t x = 0;
        for (std::size_t i = 1; i + 1 < bytes.size(); ++i) x ^= bytes[i];
        bytes.back() = x;
    }
    sim::Station station_;
    std::string table1Name_;
    std::atomic<int> widthZeroField_{0};
    std::function<void(int)> onWrite_;
    std::array<std::atomic<int>, 256> requests_{};
    sim::SerialEndpoint endpoint_;
    std::string path_;
};

class ParamsCommands : public ::testing::Test {
protected:
    Finished Host(std::vector<std::string> args) {
        args.insert(args.begin(), {kHost, "--port", station.Path()});
        return capture::testing::Run(args);
    }
    // A dump of the station as params-dump writes it.
    json Dumped(const std::filesystem::path& folder) {
        const auto path = folder / "dumped.json";
        const Finished f = Host({"params-dump", "--output", path.string()});
        EXPECT_EQ(f.code, 0) << f.err;
        std::ifstream in(path);
        return json::parse(in);
    }
    CountingStation station;
};

std::string Text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A complete dump of address 1 row 1 whose every value is the station's.
void ExpectCompleteDump(const DumpReading& reading, const CountingStation& station) {
    ASSERT_TRUE(reading.problems.empty()) << Describe(reading.problems.front());
    ASSERT_TRUE(reading.dump);
    std::vector<std::uint32_t> values;
    ASSERT_EQ(reading.dump->tables.size(), 3u);
    for (const DumpTable& t : reading.dump->tables) {
        ASSERT_EQ(t.fields.size(), static_cast<std::size_t>(kFieldsOfTable[t.number]));
        for (const DumpField& f : t.fields) {
            ASSERT_TRUE(f.value) << "table " << t.number << " field " << f.number;
            values.push_back(static_cast<std::uint32_t>(*f.value));
        }
    }
    EXPECT_EQ(values, station.Values());
}

// Every value the host once wrote wrongly (260 to a 1-byte field wrote 4,
// 3000000000 sent 0x80000000, nan wrote 0) and every other refusal: exit 2,
// the reason on stderr, no write request at the dispenser.
TEST_F(ParamsCommands, ParamWriteRefusesWhatTheFieldCannotHoldAndSendsNoWrite) {
    struct {
        const char* code;
        const char* value;
        const char* words;
    } const cases[] = {
        {"1010101", "260", "260 does not fit table 1 field 1 \"Сетевой адрес\" (1 byte, 0..255)"},
        {"1010104", "65537", "65537 does not fit table 1 field 4"},
        {"1010105", "3000000000", "3000000000 is outside the limits of table 1 field 5"},
        {"1010105", "2147483648", "2147483648 is outside the limits"},
        {"1020119", "4294967296", "does not fit table 2 field 19"},
        {"1010101", "nan", "\"nan\" is not a number (NaN)"},
        {"1010101", "inf", "infinity"},
        {"1010101", "-inf", "infinity"},
        {"1010101", "1.5", "not a whole number"},
        {"1010111", "-5", "251 for -5"},
        {"1010104", "700",
         "outside the limits of table 1 field 4 \"Тайм-аут снятия пистолета, с\" (limits 0..600) "
         "(--force writes it anyway)"},
        {"2010101", "1", "not a parameter code 1TTRRFF"},
        {"1000101", "1", "not a parameter code 1TTRRFF"},
        {"1990101", "1", "has no table 99"},
        {"1010401", "1", "there is no row 4"},
        {"1010150", "1", "there is no field 50"},
    };
    const auto before = station.Values();
    for (const auto& c : cases) {
        const Finished f = Host({"param-write", "--code", c.code, "--", c.value});
        EXPECT_EQ(f.code, 2) << c.code << " " << c.value << '\n' << f.out << f.err;
        EXPECT_NE(f.err.find(c.words), std::string::npos) << c.value << '\n' << f.err;
        EXPECT_NE(f.err.find("nothing written"), std::string::npos) << f.err;
    }
    EXPECT_EQ(station.Requests(kWrite), 0);
    EXPECT_EQ(station.Values(), before);
}

// A field described with width 0 holds nothing: no write is sent for it, and a
// dump records it without a value and is still complete.
TEST_F(ParamsCommands, FieldOfWidthZeroIsNeverWrittenAndDumpsWithoutAValue) {
    station.DescribeWithWidthZero(3);
    const Finished write = Host({"param-write", "--code", "1010103", "1"});
    EXPECT_EQ(write.code, 2) << write.out << write.err;
    EXPECT_NE(write.err.find("has no value bytes"), std::string::npos) << write.err;
    EXPECT_EQ(station.Requests(kWrite), 0);

    const auto folder = testing::ScratchFolder("width-zero");
    const Finished dump = Host({"params-dump", "--output", (folder / "dump.json").string()});
    ASSERT_EQ(dump.code, 0) << dump.err;
    const json field = json::parse(Text(folder / "dump.json"))["tables"][0]["fields"][2];
    EXPECT_EQ(field["size"], 0) << field;
    EXPECT_TRUE(field["value"].is_null()) << field;
}

TEST_F(ParamsCommands, ParamWriteWritesAFittingValueOnce) {
    const Finished small = Host({"param-write", "--code", "1010104", "45"});
    EXPECT_EQ(small.code, 0) << small.err;
    EXPECT_EQ(station.Station().Parameter(1, 1, 1, 4), 45u);
    // 4 bytes, 0..0xFFFFFFFF: the value itself, not 0x80000000.
    const Finished wide = Host({"param-write", "--code", "1020119", "3000000000"});
    EXPECT_EQ(wide.code, 0) << wide.err;
    EXPECT_EQ(station.Station().Parameter(1, 2, 1, 19), 3000000000u);
    EXPECT_EQ(station.Requests(kWrite), 2);
}

// --force passes the host's limits check; the dispenser still judges, and a
// refusal is no success.
TEST_F(ParamsCommands, ParamWriteForceSendsAValueOutsideTheLimits) {
    const Finished f = Host({"param-write", "--code", "1010104", "700", "--force"});
    EXPECT_EQ(station.Requests(kWrite), 1);
    EXPECT_EQ(f.code, 3) << f.out << f.err;
    EXPECT_NE(f.out.find("line result: 3"), std::string::npos) << f.out;
    EXPECT_EQ(station.Station().Parameter(1, 1, 1, 4), 30u);
}

TEST_F(ParamsCommands, DumpWithoutFaultsIsCompleteAndVerifiable) {
    station.Station().SetParameter(1, 2, 1, 19, 3000000000u);
    const auto folder = testing::ScratchFolder("dump-good");
    const Finished f = Host({"params-dump", "--output", (folder / "dump.json").string()});
    ASSERT_EQ(f.code, 0) << f.err;
    EXPECT_NE(f.err.find("3 table(s), 36 field(s), 36 value(s)"), std::string::npos) << f.err;
    ExpectCompleteDump(ReadDumpFile(folder / "dump.json"), station);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"dump.json"});
    EXPECT_EQ(station.Requests(kWrite), 0);
}

// Bad replies at 10 % and 100 %, with one attempt or five: the dump is
// complete or it fails naming what it could not read; a failed dump leaves
// the file that was there and nothing else, and prints nothing on stdout.
TEST_F(ParamsCommands, DumpUnderChecksumFaultsIsCompleteOrFailedNeverPartial) {
    struct {
        double rate;
        const char* attempts;
        bool mustFail;
    } const cases[] = {{0.1, "5", false}, {0.1, "1", false}, {1.0, "5", true}};
    int complete = 0, failed = 0;
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.rate) + " x" + c.attempts;
        station.Station().SetFaultRate(sim::FaultMode::kBadChecksum, c.rate, 7);
        const auto folder = testing::ScratchFolder("dump-faults");
        const auto path = folder / "dump.json";
        Write(path, "the dump of yesterday");
        const Finished f = Host({"params-dump", "--attempts", c.attempts, "--output", path.string()});
        if (f.code == 0) {
            ++complete;
            EXPECT_FALSE(c.mustFail) << name;
            station.Station().ClearFaults();
            ExpectCompleteDump(ReadDumpFile(path), station);
        } else {
            ++failed;
            EXPECT_EQ(f.code, 3) << name << '\n' << f.err;
            EXPECT_NE(f.err.find("params-dump failed: table "), std::string::npos) << name << '\n' << f.err;
            EXPECT_NE(f.err.find("no good reply after " + std::string(c.attempts) + " attempt(s)"), std::string::npos)
                << f.err;
            EXPECT_NE(f.err.find("nothing written to " + path.string()), std::string::npos) << f.err;
            EXPECT_EQ(Text(path), "the dump of yesterday") << name;
        }
        EXPECT_EQ(Names(folder), std::vector<std::string>{"dump.json"}) << name;
        station.Station().ClearFaults();
    }
    EXPECT_EQ(complete + failed, 3);
    // Every reply bad: it fails at the very first request, table 1.
    station.Station().SetFaultRate(sim::FaultMode::kBadChecksum, 1.0, 7);
    const Finished toStdout = Host({"params-dump"});
    EXPECT_EQ(toStdout.code, 3);
    EXPECT_EQ(toStdout.out, "");
    EXPECT_NE(toStdout.err.find("params-dump failed: table 1: no good reply after 5 attempt(s) (last: bad reply, "
                                "line error 222"),
              std::string::npos)
        << toStdout.err;
    EXPECT_EQ(station.Requests(kWrite), 0);
}

TEST_F(ParamsCommands, DumpWithoutRepliesFailsAsAnExchangeFailure) {
    station.Station().SetFaultRate(sim::FaultMode::kDropReply, 1.0, 7);
    const Finished f = Host({"params-dump", "--attempts", "2"});
    EXPECT_EQ(f.code, 1) << f.err;
    EXPECT_EQ(f.out, "");
    EXPECT_NE(f.err.find("table 1: no good reply after 2 attempt(s) (last: no reply"), std::string::npos) << f.err;
}

// Each file that must not be restored is refused as a whole, every problem
// named by its JSON path, and not one write request reaches the dispenser,
// even with --apply.
TEST_F(ParamsCommands, RestoreRefusesABadFileWithNothingWritten) {
    const auto folder = testing::ScratchFolder("restore-refused");
    const json good = Dumped(folder);
    struct Case {
        const char* name;
        std::function<std::string(json)> file;
        std::vector<std::string> extra;  // options besides --apply
        std::vector<std::string> words;
    };
    const std::vector<Case> cases = {
        {"another target",
         [](json d) {
             d["address"] = 2;
             d["row"] = 3;
             return testing::Seal(d);
         },
         {"--address", "1", "--row", "1"},
         {"/address: the file is a dump of address 2, the target is address 1", "/row: the file holds row 3"}},
        {"another layout",
         [](json d) {
             d["tables"][0]["fields"][3]["name"] = "Тайм-аут";
             d["tables"][1]["fields"][1]["size"] = 3;
             return testing::Seal(d);
         },
         {},
         {"2 problem(s)", "/tables/0/fields/3/name: table 1 field 4",
          "/tables/1/fields/1/size: table 2 field 2 \"Цена по умолчанию, коп\": the width is 3 in the file, 4 on the "
          "dispenser"}},
        {"wrong types",
         [](json d) {
             d["tables"][0]["fields"][0]["value"] = "1";
             d["tables"][0]["fields"][1]["value"] = 1.5;
             d["tables"][2]["fields"][1]["value"] = true;
             return testing::Seal(d);
         },
         {},
         {"3 problem(s)", "/tables/0/fields/0/value: a whole number is expected, not \"1\"",
          "/tables/0/fields/1/value: a whole number is expected, not 1.5", "/tables/2/fields/1/value"}},
        {"values the fields cannot hold",
         [](json d) {
             d["tables"][0]["fields"][0]["value"] = 260;
             d["tables"][0]["fields"][3]["value"] = 700;
             return testing::Seal(d);
         },
         {},
         {"/tables/0/fields/0/value: 260 does not fit", "/tables/0/fields/3/value: 700 is outside the limits"}},
        {"a changed value under the old checksum",
         [](json d) {
             d["tables"][0]["fields"][3]["value"] = 31;
             return d.dump(2);
         },
         {},
         {"/checksum: crc32:", "does not match the contents"}},
        {"too large", [](json) { return std::string(kMaxDumpFileBytes + 1, ' '); }, {}, {"refused without reading"}},
        {"not JSON", [&](json d) { return d.dump(2).substr(0, 500); }, {}, {"not JSON"}},
    };
    const auto before = station.Values();
    for (const auto& c : cases) {
        const auto path = folder / "restore.json";
        Write(path, c.file(good));
        std::vector<std::string> args{"params-restore", path.string(), "--apply"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Finished f = Host(args);
        EXPECT_EQ(f.code, 4) << c.name << '\n' << f.out << f.err;
        EXPECT_NE(f.err.find("cannot be restored"), std::string::npos) << c.name << '\n' << f.err;
        EXPECT_NE(f.err.find("nothing written"), std::string::npos) << c.name << '\n' << f.err;
        for (const auto& w : c.words)
            EXPECT_NE(f.err.find(w), std::string::npos) << c.name << ": " << w << '\n' << f.err;
        EXPECT_EQ(Names(folder), (std::vector<std::string>{"dumped.json", "restore.json"})) << c.name << ": a backup";
    }
    EXPECT_EQ(station.Requests(kWrite), 0);
    EXPECT_EQ(station.Values(), before);
}

TEST_F(ParamsCommands, RestoreShowsDifferencesAndWritesOnlyWithApply) {
    const auto folder = testing::ScratchFolder("restore-apply");
    const auto file = folder / "dumped.json";
    const auto wanted = station.Values();
    Dumped(folder);
    station.Station().SetParameter(1, 1, 1, 4, 45);
    station.Station().SetParameter(1, 2, 1, 2, 1234);
    const auto changed = station.Values();

    const Finished check = Host({"params-restore", file.string()});
    EXPECT_EQ(check.code, 0) << check.err;
    EXPECT_NE(check.out.find("2 difference(s)"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("table 1 field 4 \"Тайм-аут снятия пистолета, с\": dispenser 45, file 30"),
              std::string::npos)
        << check.out;
    EXPECT_EQ(station.Requests(kWrite), 0);
    EXPECT_EQ(station.Values(), changed);

    const auto backup = folder / "backup.json";
    const Finished apply = Host({"params-restore", file.string(), "--apply", "--backup", backup.string()});
    EXPECT_EQ(apply.code, 0) << apply.err;
    EXPECT_NE(apply.out.find("2 value(s) written and read back"), std::string::npos) << apply.out;
    EXPECT_EQ(station.Requests(kWrite), 2);
    EXPECT_EQ(station.Values(), wanted);
    // The backup holds what the dispenser held before.
    const DumpReading saved = ReadDumpFile(backup);
    ASSERT_TRUE(saved.problems.empty()) << Describe(saved.problems.front());
    EXPECT_EQ(saved.dump->tables[0].fields[3].value, 45);
    EXPECT_EQ(saved.dump->tables[1].fields[1].value, 1234);
}

// The second difference is one the dispenser refuses (a signed field takes
// -40..100 but describes its whole byte): the first is written and read
// back, the restore stops there and says how to roll back, which works.
TEST_F(ParamsCommands, RestoreStopsAtTheFirstFailureAndTheBackupRollsBack) {
    const auto folder = testing::ScratchFolder("restore-stop");
    json doc = Dumped(folder);
    doc["tables"][0]["fields"][10]["value"] = 200;  // -56 as a signed byte
    const auto file = folder / "restore.json";
    Write(file, testing::Seal(doc));
    station.Station().SetParameter(1, 1, 1, 4, 45);
    const auto changed = station.Values();

    const Finished f = Host({"params-restore", file.string(), "--apply", "--attempts", "2"});
    EXPECT_EQ(f.code, 3) << f.out << f.err;
    EXPECT_NE(f.out.find("table 1 field 4 \"Тайм-аут снятия пистолета, с\": 45 -> 30, written and read back"),
              std::string::npos)
        << f.out;
    EXPECT_NE(f.err.find("stopped at table 1 field 11 \"Порог перегрева\" (70 -> 200): after 2 attempt(s) the "
                         "dispenser did not take the write (line result 3) and holds 70"),
              std::string::npos)
        << f.err;
    EXPECT_NE(f.err.find("written and read back before it: 1 of 2 value(s)"), std::string::npos) << f.err;
    EXPECT_EQ(station.Station().Parameter(1, 1, 1, 4), 30u);

    const std::string mark = "roll back with: zarvik-host ";
    const auto at = f.err.find(mark);
    ASSERT_NE(at, std::string::npos) << f.err;
    std::istringstream words(f.err.substr(at + mark.size(), f.err.find('\n', at) - at - mark.size()));
    std::vector<std::string> rollBack{kHost};
    for (std::string w; words >> w;) rollBack.push_back(w);
    const Finished back = capture::testing::Run(rollBack);
    EXPECT_EQ(back.code, 0) << back.out << back.err;
    EXPECT_EQ(station.Values(), changed);
}

// A signal while the second of three writes is on the wire: that exchange
// and its read-back finish, the third is never sent, and what was done and
// how to undo it reach a stdout that is a file; the rollback works.
TEST_F(ParamsCommands, RestoreInterruptedBySignalsSaysWhatWasDoneAndHowToUndoIt) {
    const auto folder = testing::ScratchFolder("restore-signal");
    const auto file = folder / "dumped.json";
    Dumped(folder);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        station.Station().SetParameter(1, 1, 1, 4, 45);
        station.Station().SetParameter(1, 1, 1, 5, 7);
        station.Station().SetParameter(1, 2, 1, 2, 1234);
        const auto changed = station.Values();
        const int writesBefore = station.Requests(kWrite);
        std::atomic<pid_t> host{-1};
        station.OnWrite([&](int writes) {
            if (writes == writesBefore + 2 && host.load() > 0) kill(host.load(), signal);
        });
        capture::testing::Started restore(
            {kHost, "--port", station.Path(), "params-restore", file.string(), "--apply"});
        host = restore.Pid();
        const Finished f = restore.Finish();
        station.OnWrite({});
        EXPECT_EQ(f.code, 5) << f.out << f.err;
        EXPECT_EQ(station.Requests(kWrite) - writesBefore, 2);
        EXPECT_NE(f.err.find("interrupted by " +
                             std::string(signal == SIGINT    ? "SIGINT"
                                         : signal == SIGTERM ? "SIGTERM"
                                                             : "SIGHUP") +
                             ": written and read back: 2 of 3 value(s); the rest not written"),
                  std::string::npos)
            << f.err;
        const std::string mark = "backup of the current values: ";
        const auto at = f.out.find(mark);
        ASSERT_NE(at, std::string::npos) << f.out;
        const std::string backup = f.out.substr(at + mark.size(), f.out.find('\n', at) - at - mark.size());
        EXPECT_TRUE(std::filesystem::is_regular_file(backup)) << backup;
        EXPECT_NE(
            f.out.find("roll back with: zarvik-host --port " + station.Path() + " params-restore --apply " + backup),
            std::string::npos)
            << f.out;
        EXPECT_NE(f.out.find(", written and read back"), std::string::npos) << f.out;
        const Finished back = Host({"params-restore", backup, "--apply"});
        EXPECT_EQ(back.code, 0) << back.out << back.err;
        EXPECT_EQ(station.Values(), changed);
    }
}

// Two backups of the same address and row within one second: each gets a
// name of its own, and neither replaces the other; an existing --backup
// file is left alone and nothing is written.
TEST_F(ParamsCommands, BackupsNeverReplaceAFile) {
    const auto folder = testing::ScratchFolder("restore-backups");
    const auto file = folder / "dumped.json";
    Dumped(folder);
    station.Station().SetParameter(1, 1, 1, 4, 45);
    const Finished first = Host({"params-restore", file.string(), "--apply"});
    station.Station().SetParameter(1, 1, 1, 4, 46);
    const Finished second = Host({"params-restore", file.string(), "--apply"});
    EXPECT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(second.code, 0) << second.err;
    std::vector<std::string> backups;
    for (const auto& name : Names(folder))
        if (name.find("-backup-") != std::string::npos) backups.push_back(name);
    ASSERT_EQ(backups.size(), 2u) << first.out << second.out;
    std::vector<std::int64_t> held;
    for (const auto& name : backups) held.push_back(*ReadDumpFile(folder / name).dump->tables[0].fields[3].value);
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held, (std::vector<std::int64_t>{45, 46}));

    station.Station().SetParameter(1, 1, 1, 4, 47);
    const int writes = station.Requests(kWrite);
    Write(folder / "taken.json", "mine");
    const Finished taken =
        Host({"params-restore", file.string(), "--apply", "--backup", (folder / "taken.json").string()});
    EXPECT_EQ(taken.code, 4) << taken.err;
    EXPECT_NE(taken.err.find("taken.json exists"), std::string::npos) << taken.err;
    EXPECT_EQ(Text(folder / "taken.json"), "mine");
    EXPECT_EQ(station.Requests(kWrite), writes);
}

// A dispenser whose table name carries a terminal title sequence, a bell, a
// screen clear, CR and BS, and code page 1251's 0x80-0x9F letters: text
// output shows the controls as \xNN and the letters as letters; JSON stays
// escaped by the JSON writer.
TEST_F(ParamsCommands, NamesFromTheDispenserReachNoTerminalAsControls) {
    station.NameTable1("\x1B]0;pwned\x07\x1B[2J\r\b\x80\x8A\x9A");
    const std::string shown = "\\x1B]0;pwned\\x07\\x1B[2J\\x0D\\x08ЂЉљ";
    const Finished tables = Host({"tables"});
    const Finished write = Host({"param-write", "-c", "1010901", "1"});
    const Finished json = Host({"--json", "tables"});
    EXPECT_NE(tables.out.find("table 1: " + shown + ", rows 3"), std::string::npos) << tables.out;
    EXPECT_NE(write.err.find("table 1 \"" + shown + "\" has 3 row(s)"), std::string::npos) << write.err;
    EXPECT_NE(json.out.find(R"("name": "\u001b]0;pwned\u0007\u001b[2J\r\bЂЉљ")"), std::string::npos) << json.out;
    for (const Finished* f : {&tables, &write})
        EXPECT_EQ((f->out + f->err).find_first_of("\x1B\x07\r\b"), std::string::npos) << f->out << f->err;
}

// The file's own problems are reported even when there is no dispenser to
// compare it with.
TEST(ParamsRestore, FileProblemsAreReportedWhenTheDispenserCannotBeReached) {
    const auto folder = testing::ScratchFolder("restore-unreachable");
    json doc = json::parse(DumpText(testing::SmallDump()));
    doc["tables"][0]["fields"][0]["value"] = "5";
    Write(folder / "restore.json", doc.dump());
    const Finished f = capture::testing::Run(
        {kHost, "--port", (folder / "no-such-tty").string(), "params-restore", (folder / "restore.json").string()});
    EXPECT_EQ(f.code, 4) << f.err;
    EXPECT_NE(f.err.find("/checksum: "), std::string::npos) << f.err;
    EXPECT_NE(f.err.find("/tables/0/fields/0/value: a whole number is expected"), std::string::npos) << f.err;
    EXPECT_NE(f.err.find("the dispenser could not be reached: cannot open"), std::string::npos) << f.err;
}

}  // namespace
}  // namespace zarvik::host
