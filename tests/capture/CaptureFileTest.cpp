// The capture writer and reader: records read back as written, the file is
// a pcap on DLT_USER0 with the documented pseudo-header, every record is on
// disk as soon as Write returns, and files that are not line captures are
// refused while a torn last record is not.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "CaptureTestSupport.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureWriter.h"

namespace zarvik::capture {
namespace {

using testing::Bytes;
using testing::FileBytes;
using testing::PcapFile;
using testing::TempPath;

Timestamp At(long long micros) { return Timestamp(std::chrono::microseconds(micros)); }

TEST(CaptureFile, RecordsReadBackAsWritten) {
    const std::string path = TempPath("roundtrip.pcap");
    const std::vector<CaptureRecord> written = {
        {At(1'700'000'000'123'456), 1, Direction::Sent, {0x02, 0x00, 0x01, 0x02, 0x9F, 0x00, 0x9C}},
        {At(1'700'000'000'223'457), 1, Direction::Received, {0x02, 0x00, 0x01, 0x00, 0x01}},
        {At(1'700'000'001'000'000), 32, Direction::Discarded, {0xFF, 0x02}},
        {At(1'700'000'002'000'001), 7, Direction::Received, Bytes(kMaxFrameBytes, 0xA5)},
    };
    {
        CaptureWriter writer(path);
        for (const auto& r : written) writer.Write(r.time, r.line, r.direction, r.bytes);
        EXPECT_EQ(writer.Records(), written.size());
        EXPECT_EQ(writer.Error(), "");
    }
    const CaptureFile file = ReadCapture(path);
    EXPECT_FALSE(file.truncated);
    ASSERT_EQ(file.records.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(file.records[i].time, written[i].time);
        EXPECT_EQ(file.records[i].line, written[i].line);
        EXPECT_EQ(file.records[i].direction, written[i].direction);
        EXPECT_EQ(file.records[i].bytes, written[i].bytes);
    }
}

TEST(CaptureFile, IsPcapOnUserLinkTypeWithLineAndDirectionFirst) {
    const std::string path = TempPath("layout.pcap");
    {
        CaptureWriter writer(path);
        writer.Write(At(5'000'007), 3, Direction::Received, Bytes{0x02, 0x11, 0x01, 0x00, 0x10});
    }
    const Bytes b = FileBytes(path);
    ASSERT_EQ(b.size(), 24u + 16u + 7u);
    EXPECT_EQ(testing::Le32(b, 0), 0xA1B2C3D4u);  // microsecond pcap, written little-endian here
    EXPECT_EQ(testing::Le32(b, 20), 147u);        // DLT_USER0
    EXPECT_EQ(testing::Le32(b, 24), 5u);          // seconds
    EXPECT_EQ(testing::Le32(b, 28), 7u);          // microseconds
    EXPECT_EQ(testing::Le32(b, 32), 7u);          // captured length: pseudo-header + frame
    EXPECT_EQ(testing::Le32(b, 36), 7u);          // length on the wire
    EXPECT_EQ(Bytes(b.begin() + 40, b.end()), (Bytes{3, 1, 0x02, 0x11, 0x01, 0x00, 0x10}));
}

TEST(CaptureFile, EachRecordIsOnDiskWhenWriteReturns) {
    const std::string path = TempPath("flushed.pcap");
    CaptureWriter writer(path);
    EXPECT_EQ(ReadCapture(path).records.size(), 0u);  // the file header alone is already readable
    for (int i = 1; i <= 3; ++i) {
        writer.Write(At(i), 1, Direction::Sent, Bytes{0x02, static_cast<std::uint8_t>(i)});
        const CaptureFile file = ReadCapture(path);  // the writer is still open, as in a process killed now
        ASSERT_EQ(file.records.size(), static_cast<std::size_t>(i));
        EXPECT_EQ(file.records.back().bytes[1], i);
    }
}

TEST(CaptureFile, LastRecordCutShortIsDroppedAndReported) {
    const std::string path = TempPath("torn.pcap");
    {
        CaptureWriter writer(path);
        writer.Write(At(1), 1, Direction::Sent, Bytes{0x02, 0x00, 0x01, 0x02, 0x9F, 0x00, 0x9C});
        writer.Write(At(2), 1, Direction::Received, Bytes(35, 0x11));
    }
    for (const std::size_t cut : {1u, 20u, 36u + 16u}) {  // inside the data, inside the record header
        SCOPED_TRACE(cut);
        Bytes b = FileBytes(path);
        b.resize(b.size() - cut);
        const std::string torn = TempPath("torn-cut.pcap");
        testing::WriteFile(torn, b);
        const CaptureFile file = ReadCapture(torn);
        EXPECT_TRUE(file.truncated);
        ASSERT_EQ(file.records.size(), 1u);
        EXPECT_EQ(file.records[0].bytes.size(), 7u);
    }
}

struct Refusal {
    const char* name;
    Bytes file;
    const char* why;  // part of the message
};

TEST(CaptureFile, FilesThatAreNotLineCapturesAreRefused) {
    const Bytes frame{0x02, 0x00, 0x01, 0x00, 0x01};
    const auto record = [&](Bytes header) {
        header.insert(header.end(), frame.begin(), frame.end());
        return header;
    };
    const Refusal cases[] = {
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, ""},
        {"empty", Bytes{}, ""},
        {"ethernet", PcapFile(1, {record({1, 0})}), "link type 1"},
        {"no pseudo-header", PcapFile(147, {Bytes{1}}), "record 1: no line and direction"},
        {"line 0", PcapFile(147, {record({1, 0}), record({0, 0})}), "record 2: line 0"},
        {"line 33", PcapFile(147, {record({33, 1})}), "record 1: line 33"},
        {"direction 3", PcapFile(147, {record({1, 3})}), "record 1: direction 3"},
        {"snapped", PcapFile(147, {record({1, 1})}, /*extraOriginalLength=*/4), "snapshot length"},
        {"too long", PcapFile(147, {record(Bytes(kMaxFrameBytes, 1))}), "frame too long"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("refused.pcap");
        testing::WriteFile(path, c.file);
        try {
            ReadCapture(path);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
        }
    }
}

TEST(CaptureFile, ReaderRefusesAMissingFile) {
    EXPECT_THROW(ReadCapture(TempPath("no-such-dir/none.pcap")), std::runtime_error);
}

TEST(CaptureWriter, UnwritablePathThrows) {
    EXPECT_THROW(CaptureWriter(TempPath("no-such-dir/x.pcap")), std::runtime_error);
}

TEST(CaptureWriter, RecordThatCannotBeReadBackAsMeantStopsTheCapture) {
    struct Case {
        const char* name;
        int line;
        std::size_t size;
        const char* why;
    };
    const Case cases[] = {{"line 0", 0, 5, "line 0"},
                          {"line 33", 33, 5, "line 33"},
                          {"frame too long", 1, kMaxFrameBytes + 1, "1025 bytes"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(std::string("refusing ") + c.name + ".pcap");  // a new file each
        CaptureWriter writer(path);
        writer.Write(At(1), 1, Direction::Sent, Bytes{0x02});
        writer.Write(At(2), c.line, Direction::Sent, Bytes(c.size, 0x02));
        writer.Write(At(3), 1, Direction::Received, Bytes{0x02});  // dropped: the capture has a hole now
        EXPECT_NE(writer.Error().find(c.why), std::string::npos) << writer.Error();
        EXPECT_EQ(writer.Records(), 1u);
        EXPECT_EQ(ReadCapture(path).records.size(), 1u);
    }
}

TEST(CaptureWriter, FullDiskIsReportedNotHidden) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The file header may already fail; either way nothing is claimed as written.
    try {
        CaptureWriter writer("/dev/full");
        writer.Write(At(1), 1, Direction::Sent, Bytes(200, 0x02));
        EXPECT_NE(writer.Error(), "");
        EXPECT_EQ(writer.Records(), 0u);
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos);
    }
}

TEST(CaptureWriter, LinesWritingAtOnceEachGetWholeRecords) {
    const std::string path = TempPath("threads.pcap");
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    {
        CaptureWriter writer(path);
        std::vector<std::thread> threads;
        for (int t = 1; t <= kThreads; ++t) {
            threads.emplace_back([&writer, t] {
                for (int i = 0; i < kPerThread; ++i)
                    writer.Write(At(i), t, Direction::Sent, Bytes(static_cast<std::size_t>(t * 10), t));
            });
        }
        for (auto& th : threads) th.join();
        EXPECT_EQ(writer.Error(), "");
    }
    const CaptureFile file = ReadCapture(path);
    ASSERT_EQ(file.records.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (const CaptureRecord& r : file.records) {
        ASSERT_EQ(r.bytes.size(), r.line * 10u);
        ASSERT_EQ(r.bytes, Bytes(r.bytes.size(), r.line));
    }
}

}  // namespace
}  // namespace zarvik::capture
