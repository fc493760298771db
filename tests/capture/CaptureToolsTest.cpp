// The tools around line captures, run as processes: zarvik-host --capture,
// the Wireshark dissector under tshark, and zarvik-sim --replay. The
// dissector cases skip only when tshark is not installed at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <thread>

#include "CaptureTestSupport.h"
#include "ToolRunner.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureWriter.h"

namespace zarvik::capture {
namespace {

using testing::Background;
using testing::Bytes;
using testing::Finished;
using testing::Frame;
using testing::Lines;
using testing::Run;
using testing::TempPath;
using testing::Tshark;

const std::string kHost = ZARVIK_HOST;
const std::string kSim = ZARVIK_SIM;
const char* const kStatusFailure = "Невозможно выполнить запрос состояния ТРК";

std::string Hex(const Bytes& bytes) {
    std::string out;
    char byte[4];
    for (const auto b : bytes) {
        std::snprintf(byte, sizeof byte, out.empty() ? "%02X" : " %02X", b);
        out += byte;
    }
    return out;
}

// "10:41:07.123456", local time, as the host's trace prints it.
std::string LocalTimeOfDay(Timestamp time) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const std::time_t whole = Clock::to_time_t(seconds);
    std::tm local{};
    localtime_r(&whole, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06lld", static_cast<long long>((time - seconds).count()));
    return text;
}

// A decimal as the host prints it.
std::string Fixed(const std::string& value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::stod(value));
    return text;
}

Finished Host(std::vector<std::string> args) {
    args.insert(args.begin(), kHost);
    return Run(args);
}

class Dissector : public ::testing::Test {
protected:
    static const Tshark& Shark() {
        static const Tshark tshark(ZARVIK_DISSECTOR);
        return tshark;
    }
    void SetUp() override {
        if (!Shark().Found()) GTEST_SKIP() << "tshark is not installed (scripts/install-deps installs it)";
        ASSERT_EQ(Shark().Problem(), "");
    }
};

// The words of the demo's progress bar for the state the driver makes of a status reply.
std::string DemoWords(int status, bool lifted) {
    switch (status) {
        case 0:
        case 1:
        case 2:
        case 9:
        case 13:
        case 15:
            return lifted ? "nozzle up" : "idle";
        case 3:
        case 5:
        case 6:
            return "authorised";
        case 4:
            return "nozzle up";
        case 7:
        case 8:
            return "delivering";
        case 10:
        case 14:
            return "finished";
        default:
            return "status " + std::to_string(status);
    }
}

struct Polled {
    std::string volume, money, words;
    bool operator==(const Polled&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Polled& p) {
    return out << p.volume << " L " << p.money << " " << p.words;
}

TEST_F(Dissector, DemoCaptureDecodesToWhatTheHostReported) {
    const std::string capture = TempPath("demo.pcap");
    const Finished demo = Host({"--capture", capture, "--trace", "demo"});
    ASSERT_EQ(demo.code, 0) << demo.out << demo.err;

    // The capture holds exactly the frames the host traced, in order, each
    // traced with the local time of day of its record.
    const auto records = ReadCapture(capture).records;
    struct Traced {
        std::string time;
        Direction direction;
        std::string bytes;
    };
    std::vector<Traced> traced;
    static const std::regex kTraceLine(R"(^(\d\d:\d\d:\d\d\.\d{6}) ([<>]) ([0-9A-F ]+?)(  \(discarded\))?$)");
    std::smatch t;
    for (const auto& line : Lines(demo.err)) {
        ASSERT_FALSE(line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) << "a frame without its time: " << line;
        if (!std::regex_match(line, t, kTraceLine)) continue;
        const Direction direction = t[2] == ">"    ? Direction::Sent
                                    : t[4].matched ? Direction::Discarded
                                                   : Direction::Received;
        traced.push_back({t[1], direction, t[3]});
    }
    ASSERT_GT(traced.size(), 10u);
    ASSERT_EQ(records.size(), traced.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].direction, traced[i].direction) << "record " << i + 1;
        EXPECT_EQ(Hex(records[i].bytes), traced[i].bytes) << "record " << i + 1;
        EXPECT_EQ(LocalTimeOfDay(records[i].time), traced[i].time) << "record " << i + 1;
    }

    enum {
        kFrame,
        kLine,
        kDir,
        kSeq,
        kAddr,
        kLen,
        kCmd,
        kChecksumOk,
        kRequestIn,
        kTime,
        kStatus,
        kLifted,
        kVolume,
        kMoney,
        kTotal,
        kPrice,
        kCoefficient,
        kDose
    };
    const auto rows =
        Shark().Fields(capture, {"frame.number", "zarvik.line", "zarvik.dir", "zarvik.seq", "zarvik.addr", "zarvik.len",
                                 "zarvik.cmd", "zarvik.checksum_ok", "zarvik.request_in", "zarvik.time",
                                 "zarvik.status", "zarvik.flags.lifted", "zarvik.volume", "zarvik.money",
                                 "zarvik.total", "zarvik.price", "zarvik.coefficient", "zarvik.dose_litres"});
    ASSERT_EQ(rows.size(), records.size());
    std::vector<Polled> polled;
    std::vector<std::string> totals;
    std::string requestCommand;
    std::size_t request = 0;  // index of the last request
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("frame " + rows[i][kFrame]);
        const auto& r = rows[i];
        const auto& b = records[i].bytes;
        EXPECT_EQ(r[kLine], "1");
        EXPECT_EQ(r[kDir], std::to_string(static_cast<int>(records[i].direction)));
        EXPECT_EQ(r[kSeq], std::to_string(b[1]));
        EXPECT_EQ(r[kAddr], std::to_string(b[2]));
        EXPECT_EQ(r[kLen], std::to_string(b[3]));
        if (records[i].direction == Direction::Discarded) continue;  // a late reply on a slow machine
        EXPECT_EQ(r[kChecksumOk], "1");
        if (records[i].direction == Direction::Sent) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", b[4]);
            EXPECT_EQ(r[kCmd], code);
            requestCommand = r[kCmd];
            request = i;
            if (r[kCmd] == "0x9a") {
                EXPECT_EQ(Fixed(r[kPrice], 2), "52.30");
                EXPECT_EQ(Fixed(r[kCoefficient], 3), "0.300");
            }
            if (r[kCmd] == "0x93") {
                EXPECT_EQ(Fixed(r[kDose], 3), "10.000");
            }
            continue;
        }
        ASSERT_GT(i, 0u);
        // Each reply answers the last request before it, with its command.
        EXPECT_EQ(r[kCmd], requestCommand);
        EXPECT_EQ(r[kRequestIn], std::to_string(request + 1));
        const double between = std::chrono::duration<double>(records[i].time - records[request].time).count();
        EXPECT_NEAR(std::stod(r[kTime]), between, 1e-6);
        if (r[kCmd] == "0x9f")
            polled.push_back(
                {Fixed(r[kVolume], 3), Fixed(r[kMoney], 2), DemoWords(std::stoi(r[kStatus]), r[kLifted] == "1")});
        if (r[kCmd] == "0x9b") totals.push_back(Fixed(r[kTotal], 3));
    }

    // The demo shows its progress once for every good poll: litres, money,
    // state. Its stdout is a file here, not a terminal: a line each, no bar.
    std::vector<Polled> bars;
    EXPECT_EQ(demo.out.find('\r'), std::string::npos) << "a progress bar drawn into a file";
    static const std::regex kBar(R"(^ *([0-9.]+) L +([0-9.]+)  (.*[^ ]) *$)");
    std::smatch m;
    std::string piece;
    for (const char c : demo.out + "\n") {
        if (c != '\r' && c != '\n') {
            piece += c;
            continue;
        }
        if (std::regex_match(piece, m, kBar)) bars.push_back({m[1], m[2], m[3]});
        piece.clear();
    }
    ASSERT_GT(bars.size(), 3u);
    EXPECT_EQ(bars, polled);
    ASSERT_EQ(totals.size(), 2u);
    EXPECT_NE(demo.out.find("total before: " + totals[0] + " L"), std::string::npos) << demo.out;
    EXPECT_NE(demo.out.find("nozzle total " + totals[1] + " L"), std::string::npos) << demo.out;
    EXPECT_NE(demo.out.find("delivered " + polled.back().volume + " L for " + polled.back().money + ";"),
              std::string::npos)
        << demo.out;
}

TEST_F(Dissector, CorruptedRepliesShowExpertWarnings) {
    struct Case {
        const char* fault;
        const char* expert;   // the frames it marks
        const char* warning;  // as tshark -V shows it
    };
    const Case cases[] = {
        {"checksum", "zarvik.checksum_bad", "[Expert Info (Warning/Checksum): Checksum 0x"},
        {"truncate", "zarvik.length_bad", "[Expert Info (Warning/Malformed): 32 bytes, LEN 30 says 35]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Background station({kSim, "--no-pacing", "--fault", c.fault, "--fault-next", "1"});
        ASSERT_NE(station.FirstLine(), "");
        const std::string capture = TempPath(std::string(c.fault) + ".pcap");
        const Finished status = Host({"--port", station.FirstLine(), "--capture", capture, "status"});
        EXPECT_NE(status.out.find("line result: 3"), std::string::npos) << status.out << status.err;

        const auto marked = Shark().Fields(capture, {"frame.number", "zarvik.dir"}, c.expert);
        ASSERT_EQ(marked.size(), 1u);
        EXPECT_EQ(marked[0], (std::vector<std::string>{"2", "1"}));  // the reply, not the request
        const std::string text = Shark().Read(capture, {"-V", "-Y", c.expert});
        EXPECT_NE(text.find(c.warning), std::string::npos) << text;
    }
    const auto checksums = Shark().Fields(TempPath("checksum.pcap"), {"zarvik.checksum_ok"});
    EXPECT_EQ(checksums, (std::vector<std::vector<std::string>>{{"1"}, {"0"}}));
}

TEST_F(Dissector, ParamsDumpShowsTheRussianTableAndFieldNames) {
    Background station({kSim, "--no-pacing"});
    ASSERT_NE(station.FirstLine(), "");
    const std::string capture = TempPath("params.pcap");
    const Finished dump = Host({"--port", station.FirstLine(), "--capture", capture, "params-dump"});
    ASSERT_EQ(dump.code, 0) << dump.err;
    const auto doc = nlohmann::json::parse(dump.out);

    std::vector<std::string> tables, fields, values;
    for (const auto& t : doc["tables"]) {
        tables.push_back(t["name"]);
        for (const auto& f : t["fields"]) {
            fields.push_back(f["name"]);
            if (!f["value"].is_null()) values.push_back(std::to_string(f["value"].get<std::int64_t>()));
        }
    }
    ASSERT_GE(tables.size(), 2u);
    for (const auto& name : tables) EXPECT_NE(name.find("\xD0"), std::string::npos) << name << " has no Cyrillic";

    const auto column = [&](const char* field, const std::string& filter) {
        std::vector<std::string> out;
        for (const auto& row : Shark().Fields(capture, {field}, filter)) out.push_back(row[0]);
        return out;
    };
    EXPECT_EQ(column("zarvik.table.name", "zarvik.table.name"), tables);
    EXPECT_EQ(column("zarvik.field.name", "zarvik.field.name"), fields);
    EXPECT_EQ(column("zarvik.param.value", "zarvik.dir == 1 && zarvik.cmd == 0x1f"), values);
}

// Every byte sequence a dispenser line can carry, as the reply to every
// command: the dissector decodes what is there and never fails.
TEST_F(Dissector, AnyBytesDecodeWithoutLuaErrors) {
    const std::string capture = TempPath("garbage.pcap");
    std::size_t written = 0;
    {
        CaptureWriter writer(capture);
        std::mt19937 random(20261208);
        const auto write = [&](Direction direction, const Bytes& bytes) {
            writer.Write(Timestamp(std::chrono::microseconds(++written * 1000)), 1, direction, bytes);
        };
        for (int cmd : {0x9F, 0x98, 0x97, 0x96, 0x93, 0x94, 0x9A, 0x9B, 0x1F, 0x1E, 0x2D, 0x2E, 0x00}) {
            for (std::size_t size = 0; size <= 64; ++size) {
                Bytes request{0x01, 0x00, static_cast<std::uint8_t>(cmd)};
                for (std::size_t i = 0; i < size % 12; ++i) request.push_back(static_cast<std::uint8_t>(random()));
                request[1] = static_cast<std::uint8_t>(request.size() - 2);
                write(Direction::Sent, Frame(static_cast<std::uint8_t>(size), request));
                Bytes reply(size);
                for (auto& b : reply) b = static_cast<std::uint8_t>(random());
                if (size > 3 && size % 2 == 0) {
                    reply[0] = 0x02;
                    reply[3] = static_cast<std::uint8_t>(size - 5 + size % 3);  // LEN right or a little off
                }
                write(size % 7 == 0 ? Direction::Discarded : Direction::Received, reply);
            }
        }
        ASSERT_EQ(writer.Error(), "");
    }
    const auto rows = Shark().Fields(capture, {"frame.number", "zarvik.line"});
    ASSERT_EQ(rows.size(), written);
    for (const auto& row : rows) EXPECT_EQ(row[1], "1") << "frame " << row[0];
}

// watch runs until it is stopped; whatever stops it, the capture holds every
// frame up to then.
// A recording and its replay are served on whichever pseudo-terminals are
// free at the time (other tests run beside these).
std::string WithoutDevice(const std::string& text) {
    return std::regex_replace(text, std::regex(R"(/dev/pts/[0-9]+)"), "/dev/pts/N");
}

TEST(Capture, StoppedOrKilledHostLeavesAReadableCapture) {
    Background station({kSim, "--no-pacing"});
    ASSERT_NE(station.FirstLine(), "");
    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        const std::string capture = TempPath("watch-" + std::to_string(signal) + ".pcap");
        Background watch({kHost, "--port", station.FirstLine(), "--capture", capture, "watch"});
        ASSERT_NE(watch.FirstLine().find("State 192"), std::string::npos) << watch.FirstLine();
        watch.Stop(signal);
        const CaptureFile file = ReadCapture(capture);
        EXPECT_FALSE(file.truncated);
        ASSERT_GE(file.records.size(), 2u);
        EXPECT_EQ(file.records[0].direction, Direction::Sent);
        EXPECT_EQ(file.records[1].direction, Direction::Received);
        EXPECT_EQ(file.records[1].bytes.size(), 35u);
    }
}

// A status poll and a total on a station, recorded, then replayed: the host
// prints the same, and a request the recording does not hold gets no reply.
TEST(Replay, StatusPollAndTotalGiveTheSameHostOutput) {
    struct Recorded {
        std::vector<std::string> command;
        std::string capture;
        Finished original;
    };
    std::vector<Recorded> recorded = {{{"status", "--nozzles", "3"}, TempPath("status.pcap"), {}},
                                      {{"total"}, TempPath("total.pcap"), {}}};
    {
        Background station({kSim, "--no-pacing", "--flow", "20"});
        ASSERT_NE(station.FirstLine(), "");
        const std::string port = station.FirstLine();
        ASSERT_EQ(Host({"--port", port, "dose-litres", "--dispenser", "1", "--nozzle", "1", "3"}).code, 0);
        ASSERT_EQ(Host({"--port", port, "start", "--dispenser", "1", "--nozzle", "1"}).code, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));  // a delivery under way or done
        for (auto& r : recorded) {
            auto args = r.command;
            args.insert(args.begin(), {"--port", port, "--capture", r.capture});
            r.original = Host(args);
            ASSERT_EQ(r.original.code, 0) << r.original.err;
            EXPECT_NE(r.original.out.find("line result: 1 (good)"), std::string::npos);
        }
    }
    for (const auto& r : recorded) {
        SCOPED_TRACE(r.capture);
        Background replay({kSim, "--no-pacing", "--replay", r.capture});
        ASSERT_NE(replay.FirstLine(), "");
        auto args = r.command;
        args.insert(args.begin(), {"--port", replay.FirstLine()});
        const Finished again = Host(args);
        EXPECT_EQ(again.code, r.original.code);
        EXPECT_EQ(WithoutDevice(again.out), WithoutDevice(r.original.out));
        EXPECT_EQ(WithoutDevice(again.err), WithoutDevice(r.original.err));
        // The recording is used up: the same poll again gets no reply.
        const Finished more = Host(args);
        EXPECT_EQ(more.code, 1);
        EXPECT_NE(more.err.find(kStatusFailure), std::string::npos) << more.err;
        const std::string report = replay.Stop();
        EXPECT_NE(report.find(", not in the recording 1"), std::string::npos) << report;
    }
}

// A line fault recorded on a station is replayed as the same fault.
TEST(Replay, RecordedFaultReplaysAsTheSameFault) {
    for (const char* fault : {"checksum", "truncate", "drop"}) {
        SCOPED_TRACE(fault);
        const std::string capture = TempPath(std::string("fault-") + fault + ".pcap");
        Finished original;
        {
            Background station({kSim, "--no-pacing", "--fault", fault, "--fault-next", "1"});
            ASSERT_NE(station.FirstLine(), "");
            original = Host({"--port", station.FirstLine(), "--capture", capture, "--stats", "status"});
        }
        Background replay({kSim, "--no-pacing", "--replay", capture});
        ASSERT_NE(replay.FirstLine(), "");
        const Finished again = Host({"--port", replay.FirstLine(), "--stats", "status"});
        const auto withoutTimes = [](const std::string& text) {
            return std::regex_replace(text, std::regex(R"((latency|wake-ups)[^\n]*)"), "$1");
        };
        EXPECT_EQ(again.code, original.code);
        EXPECT_EQ(withoutTimes(again.out), withoutTimes(original.out));
        EXPECT_EQ(WithoutDevice(again.err), WithoutDevice(original.err));
        EXPECT_EQ(original.out.find("line result: 1 (good)"), std::string::npos) << original.out;
    }
}

}  // namespace
}  // namespace zarvik::capture
