// Writes a line capture (CaptureFormat.h) with libpcap, one record per
// frame, flushed to the file before Write returns: a crash or Ctrl-C leaves
// every record written so far readable.
//
// Write may be called from several threads (lines exchange in parallel). It
// never throws: the exchange that is being recorded must not fail because
// its record could not be written. The first failure is kept; later records
// are dropped and Error() says what went wrong.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "capture/CaptureFormat.h"

namespace zarvik::capture {

class CaptureWriter {
public:
    // What may be at `path` already: nothing (kRefuse), or a regular file that
    // is then emptied (kOverwrite).
    enum class Existing { kRefuse, kOverwrite };

    // Creates the file and writes the pcap file header. Never follows a
    // symbolic link and never blocks: a link, a FIFO, a device or any other
    // file that is not a regular one is refused, and so is an existing file
    // unless `existing` is kOverwrite. Throws std::runtime_error naming the
    // path and the cause; a file refused is left as it was.
    explicit CaptureWriter(const std::string& path, Existing existing = Existing::kRefuse);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Frames longer than kMaxFrameBytes or lines outside 1..32 are refused
    // (counted as a failure): a record must read back as it was meant.
    void Write(Timestamp time, int line, Direction direction, std::span<const std::uint8_t> bytes) noexcept;

    const std::string& Path() const { return path_; }
    std::uint64_t Records() const;
    // Empty while every record went to the file.
    std::string Error() const;

private:
    void Fail(std::string what);

    std::string path_;
    mutable std::mutex mutex_;
    void* pcap_ = nullptr;    // pcap_t*
    void* dumper_ = nullptr;  // pcap_dumper_t*
    std::uint64_t records_ = 0;
    std::string error_;
};

}  // namespace zarvik::capture
