// --log FILE: a persistent log of every exchange, for after-the-fact
// diagnosis. Appended to FILE; when FILE reaches its size limit it is
// renamed with the number 1 before its extension (exchanges.log becomes
// exchanges.1.log, exchanges.1.log becomes exchanges.2.log, ...; the oldest
// beyond the kept count is dropped) and a new FILE is started.
//
// One record per frame, written when its exchange ends:
//   2026-12-08 10:41:07.123456 line 1 sent 02 80 01 03 9F 00 1D [good]
//   2026-12-08 10:41:07.160311 line 1 received 02 80 01 1E ... [good]
//   2026-12-08 10:41:07.461002 line 1 sent 02 81 01 03 9F 00 1C [no reply: нет ответа (300)]
// (local time of the frame, line, direction: sent, received or discarded,
// the bytes, the outcome of the exchange). An exchange that sent nothing
// (the line could not be opened) is one record with the direction "-".
// The host's opening of a line is a record too:
//   2026-12-08 10:41:07.100002 line 1 open /dev/ttyUSB0 [failed: линия не открыта (302): no such device]
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "port/SerialPortManager.h"

namespace zarvik::host {

class ExchangeLog {
public:
    static constexpr std::size_t kDefaultMaxBytes = 10 * 1024 * 1024;
    static constexpr std::size_t kDefaultFiles = 5;

    // Opens FILE for appending (created if missing, in a folder that
    // exists). Throws HostError (configuration) when it cannot, and when FILE
    // is a symbolic link or not a regular file (a FIFO is refused at once).
    ExchangeLog(const std::string& path, std::size_t maxBytes = kDefaultMaxBytes, std::size_t files = kDefaultFiles);
    ~ExchangeLog();
    ExchangeLog(const ExchangeLog&) = delete;
    ExchangeLog& operator=(const ExchangeLog&) = delete;

    // A frame of the exchange under way on its line (kept until it ends).
    void Frame(const port::FrameTraceEvent& event);
    // The end of the exchange: its frames are written with `outcome`.
    void Outcome(const port::ExchangeOutcome& outcome, const std::string& text);
    // The host opened a line (or failed to: `outcome` says why).
    void Opened(std::int32_t line, const std::string& device, const std::string& outcome);

    const std::string& Path() const { return path_; }
    // Empty unless a record could not be written.
    std::string Error() const;

private:
    struct Impl;
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// The outcome of an exchange as the log and the trace show it: "good",
// "bad reply: ... (246)", "no reply: ... (300)"; `cause` ("no such device")
// is added to a device or open error.
std::string DescribeOutcome(const port::ExchangeOutcome& outcome, const std::string& cause);

}  // namespace zarvik::host
