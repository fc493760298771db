// The exchange log: the outcome texts, records appended with their
// exchange's outcome, rotation by size, an unwritable path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "exchangelog/ExchangeLog.h"
#include "hostkit/ExitCodes.h"
#include "port/PortErrors.h"

namespace zarvik::host {
namespace {

TEST(ExchangeLog, Outcomes_NameWhatTheExchangeCameTo) {
    const auto now = std::chrono::system_clock::now();
    struct Case {
        port::ExchangeOutcome outcome;
        std::string cause;
        std::string text;
    };
    const Case cases[] = {
        {{now, 1, 0, kLineStateGood, 0}, "", "good"},
        {{now, 1, 0, kLineStateBad, kReplyBadChecksum},
         "",
         "bad reply: " + std::string(port::DescribeLineError(kReplyBadChecksum)) + " (222)"},
        {{now, 1, port::kErrorTimeout, kLineStateBad, port::kErrorTimeout},
         "ignored",
         "no reply: " + std::string(port::DescribeLineError(port::kErrorTimeout)) + " (300)"},
        {{now, 1, port::kErrorDevice, kLineStateBad, port::kErrorDevice},
         "hang-up: the device went away",
         "failed: " + std::string(port::DescribeLineError(port::kErrorDevice)) +
             " (301): hang-up: the device went away"},
        {{now, 1, port::kErrorNotOpen, kLineStateBad, port::kErrorNotOpen},
         "",
         "failed: " + std::string(port::DescribeLineError(port::kErrorNotOpen)) + " (302)"},
    };
    for (const Case& c : cases) EXPECT_EQ(DescribeOutcome(c.outcome, c.cause), c.text);
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Each test process writes in a folder of its own, removed when the process ends.
struct ScratchFolder {
    const std::filesystem::path path =
        std::filesystem::path(::testing::TempDir()) / ("exchange-log-" + std::to_string(::getpid()));
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::string Scratch(const std::string& name) {
    static const ScratchFolder folder;
    std::filesystem::create_directories(folder.path);
    return (folder.path / name).string();
}

port::FrameTraceEvent Event(port::FrameDirection direction, const std::vector<std::uint8_t>& bytes, int line = 1) {
    return {std::chrono::system_clock::now(), line, direction, {bytes.data(), bytes.size()}};
}

TEST(ExchangeLog, FramesAreWrittenWithTheirExchangesOutcome_AndAppended) {
    const std::string path = Scratch("appended.log");
    const std::vector<std::uint8_t> request{0x02, 0x80, 0x01, 0x02, 0x9F, 0x00, 0x1C};
    const std::vector<std::uint8_t> reply{0x02, 0x80, 0x01, 0x01, 0x9F, 0x1F};
    for (int run = 0; run < 2; ++run) {
        ExchangeLog log(path);
        log.Opened(1, "/dev/ttyS0", "good");
        log.Frame(Event(port::FrameDirection::Sent, request));
        log.Frame(Event(port::FrameDirection::Sent, request, 2));  // another line's exchange under way
        log.Frame(Event(port::FrameDirection::Received, reply));
        log.Outcome({std::chrono::system_clock::now(), 1, 0, kLineStateBad, kReplyBadLength}, "bad reply: x (223)");
        log.Outcome({std::chrono::system_clock::now(), 2, port::kErrorTimeout, kLineStateBad, 300}, "no reply");
        log.Outcome({std::chrono::system_clock::now(), 3, port::kErrorNotOpen, kLineStateBad, 302}, "failed");
        EXPECT_EQ(log.Error(), "");
    }
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 10u);
    const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )";
    const std::string expected[] = {
        "line 1 open /dev/ttyS0 [good]",
        "line 1 sent 02 80 01 02 9F 00 1C [bad reply: x (223)]",
        "line 1 received 02 80 01 01 9F 1F [bad reply: x (223)]",
        "line 2 sent 02 80 01 02 9F 00 1C [no reply]",
        "line 3 - [failed]",
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(time + ".*")));
        EXPECT_EQ(lines[i].substr(27), expected[i % 5]);
    }
}

TEST(ExchangeLog, FullFile_IsRotatedAndOnlyTheKeptFilesRemain) {
    const std::string path = Scratch("rotated.log");
    const std::vector<std::uint8_t> frame(40, 0x55);
    {
        ExchangeLog log(path, 2000, 2);
        for (int i = 0; i < 200; ++i) {
            log.Frame(Event(port::FrameDirection::Sent, frame));
            log.Outcome({std::chrono::system_clock::now(), 1, 0, kLineStateGood, 0}, "good " + std::to_string(i));
        }
        EXPECT_EQ(log.Error(), "");
    }
    for (const std::string& file :
         {path, path.substr(0, path.size() - 4) + ".1.log", path.substr(0, path.size() - 4) + ".2.log"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(std::filesystem::exists(file));
        EXPECT_LE(std::filesystem::file_size(file), 2000u);
        for (const auto& line : FileLines(file)) EXPECT_NE(line.find(" [good "), std::string::npos) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(path.substr(0, path.size() - 4) + ".3.log"));
    // The newest record is in the current file.
    EXPECT_NE(FileLines(path).back().find("[good 199]"), std::string::npos);
}

TEST(ExchangeLog, UnwritablePath_IsAConfigurationError) {
    // A regular file where its folder should be: no user, root included, can create it.
    const std::string notAFolder = Scratch("not-a-folder");
    std::ofstream(notAFolder) << "x";
    const std::string path = notAFolder + "/exchanges.log";
    try {
        ExchangeLog log(path);
        ADD_FAILURE() << "opened";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Code(), kExitConfig);
        EXPECT_NE(std::string(e.what()).find("cannot write the log " + path), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace zarvik::host
