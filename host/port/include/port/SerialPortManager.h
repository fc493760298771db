// SerialPortManager: the port service for hosts without one of their own.
// A host outside this project includes <zarvik/port/SerialPortManager.h> and
// links libzarvik-port.so.1 (zarvik-port.dll): a C++ interface, so the host
// is built with the same compiler and standard library (PortExport.h).
//
// The host maps each line (1..32) to a device path (a serial port or a
// pseudo-terminal) before the driver opens it. StartTransfer carries out the
// whole exchange before it returns: discard stale input, write the frame,
// collect the reply (see ReplyReader.h), have the line's checker judge it,
// store state and error code; the handle carries the result to WaitTransfer.
//
// WaitTransfer returns 0 when a reply came and was judged, good or bad: a
// bad reply is an outcome, not a transport failure, so the driver sees it as
// line state 3 (its commands then end quietly or set their own codes). It
// returns the line's nonzero error code (PortErrors.h) when no reply came,
// the device failed or the line was not open; the state is then 3.
//
// After a device error the line is closed and reopened through the line's
// open handler; while the device stays away, open attempts are spaced
// (ReopenPacer.h) and exchanges in between fail at once with the last error.
// The cause of every failed open and device error is kept per line as text
// (LineFault) beside the driver's error code. After a timeout or a bad reply,
// late bytes are drained so they are never taken for the next reply; whole
// late replies are also recognised by their sequence number
// (ReplyFilter.h). A reply must answer its request (ReplyMatching): on a
// strict line one with another address, command or nozzle byte is dropped
// and a refusal leaves line state 4 (error kErrorRefused) with WaitTransfer
// 0; our own request read back and a copy of the last reply are skipped. Replies are passed to the checker as they
// came: no hunting for the start byte, so the checker sees and reports every malformed reply. How one exchange runs:
// LineExchange.h.
//
// A line's device is opened exclusively (a second program gets "busy") at
// the rate the driver asks for, or the host's LineSettings::baud; an
// unsupported rate is refused, never replaced.
//
// Threads: one lock per line. Lines run in parallel; exchanges on one line
// never overlap. The checker and open handler run on the caller's thread
// while its line is locked (the open handler may call OpenLine again).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "LineStatistics.h"
#include "PortExport.h"
#include "SerialDevice.h"
#include "zarvik/port_manager.h"

namespace zarvik::port {

// How a reply must answer its request (ReplyMatch.h in the codec):
//   Strict   the reply repeats the request's bus address, command code and,
//            where carried, nozzle byte; one that contradicts them is
//            dropped, counted and waited past; a result byte other than 0
//            makes the line state 4 (refused).
//   Lenient  for a dispenser that does not fill those bytes: only the
//            sequence-number filter and the driver's own checks apply.
enum class ReplyMatching : std::uint8_t { Strict, Lenient };
// Bytes of our own request read back (RS-485 converters that echo):
//   Auto  a whole frame equal to the request just sent is skipped;
//   On    the line echoes: the request's length of bytes read first is
//         skipped whatever it holds, then as Auto;
//   Off   nothing is skipped.
enum class LocalEcho : std::uint8_t { Auto, On, Off };
ZARVIK_PORT_API const char* ReplyMatchingName(ReplyMatching matching);  // "strict", "lenient"
ZARVIK_PORT_API const char* LocalEchoName(LocalEcho echo);              // "auto", "on", "off"

struct LineSettings {
    // Wait for the first reply byte after the request has left the wire.
    std::chrono::milliseconds response{300};
    // Longest quiet gap inside a reply.
    std::chrono::milliseconds interByte{50};
    // After a timeout or a bad reply, read until the line is quiet this long
    // (bounded by one response timeout more).
    std::chrono::milliseconds drainQuiet{60};
    // A line just opened may still carry replies that the dispenser owes
    // another program (or this one before a reopen): before the first
    // request, read until the line has been quiet for one response time
    // (bounded by two).
    bool settleAfterOpen = true;
    // A late reply can still arrive after the drain and land in the next
    // exchange: a whole reply carrying the number of an earlier unanswered
    // request is thrown away and the wait goes on; so is one with another
    // number once the dispenser has shown that it echoes. A dispenser that
    // does not echo is not filtered.
    // What the line learns and how it filters: ReplyFilter.h.
    bool discardStaleReplies = true;
    // Sleep until a reply is expected complete, from the line's recent
    // replies to the same command, and take it with one wake-up. A reply
    // that is not all there then is waited for as usual; at most one byte
    // time of latency is traded for far fewer wake-ups.
    bool predictReplies = true;
    // The line's rate; 0: the rate the driver asks for at OpenLine.
    std::int32_t baud = 0;
    ReplyMatching matching = ReplyMatching::Strict;
    // A strict line falls back to lenient once this many whole replies came
    // and not one of them ever answered its request (0: never). Shown in the
    // statistics; it is never undone while the program runs.
    std::uint32_t lenientAfter = 0;
    LocalEcho localEcho = LocalEcho::Auto;
};

enum class FrameDirection { Sent, Received, Discarded };

struct FrameTraceEvent {
    std::chrono::system_clock::time_point time;
    std::int32_t line;
    FrameDirection direction;
    std::span<const std::uint8_t> bytes;
};
using FrameTraceHook = std::function<void(const FrameTraceEvent&)>;

// The end of one exchange, after its frames went to the trace hook: `code`
// is what WaitTransfer returns (0: a reply came and was judged), `state` and
// `error` what the line holds afterwards (state 1 good, 3 bad; the reply
// checker's or this service's error code).
struct ExchangeOutcome {
    std::chrono::system_clock::time_point time;
    std::int32_t line;
    std::int32_t code;
    std::uint8_t state;
    std::int32_t error;
};
using ExchangeHook = std::function<void(const ExchangeOutcome&)>;

struct PortLine;
using DeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

class ZARVIK_PORT_API SerialPortManager final : public TPortManager {
public:
    static constexpr int kLines = 32;

    // Each line gets its device from the factory (the system's back end by
    // default; a scripted fake in tests).
    explicit SerialPortManager(DeviceFactory factory = MakeSystemDevice);
    ~SerialPortManager() override;
    SerialPortManager(const SerialPortManager&) = delete;
    SerialPortManager& operator=(const SerialPortManager&) = delete;

    // --- host configuration ---
    // Maps a line to a device path; takes effect at the next OpenLine, which
    // is tried at once. Returns false for a line outside 1..32.
    bool SetDevice(std::int32_t line, const std::string& path);
    void SetSettings(std::int32_t line, const LineSettings& settings);
    void SetSettingsAll(const LineSettings& settings);
    // Called for every frame on the wire, on the exchanging thread with the
    // line locked; keep it short. Set it before any exchange runs.
    void SetTraceHook(FrameTraceHook hook);
    // Called once at the end of every exchange of a line (also one that
    // failed before sending), with the same rules as the trace hook.
    void SetExchangeHook(ExchangeHook hook);
    // The clock that spaces open attempts (tests inject one).
    void SetClock(std::function<Clock::time_point()> now);
    LineStatistics Statistics(std::int32_t line) const;
    // Why the line's last open or device I/O failed ("no such device",
    // "busy: held by process 812 (zarvik-host)", ...); empty after a good open.
    DeviceFault LineFault(std::int32_t line) const;
    bool IsOpen(std::int32_t line) const;
    void CloseLine(std::int32_t line);

    // --- TPortManager ---
    std::int32_t GetLineError(std::uint8_t line) override;
    void SetLineError(std::uint8_t line, std::int32_t code) override;
    void SetLineState(std::uint8_t line, std::uint8_t state) override;
    std::uint8_t GetLineState(std::uint8_t line) override;
    void SetReplyChecker(std::uint8_t line, TReplyChecker checker) override;
    void SetOpenHandler(std::int32_t line, TOpenHandler handler) override;
    // Opens the mapped device raw 8N1 at baud, or at the line's own rate when
    // the host set one (mode, flags, retries and reserved are accepted and
    // ignored). 0 when open, else an error code (the cause: LineFault). An
    // attempt before the pacer allows one fails at once.
    std::int32_t OpenLine(std::int32_t line, std::int32_t mode, std::int32_t baud, std::int32_t flags,
                          std::int32_t retries, std::int32_t reserved) override;
    std::int32_t WaitTransfer(const TTransferHandle& handle) override;
    TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t line2, const std::uint8_t* frame,
                                  std::uint8_t frameLength, std::uint8_t* reply, std::uint8_t expectedLength,
                                  std::int32_t mode, std::int32_t reserved) override;

private:
    PortLine* Find(std::int32_t line) const;

    std::array<std::unique_ptr<PortLine>, kLines> lines_;
    FrameTraceHook trace_;
    ExchangeHook exchangeHook_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
};

}  // namespace zarvik::port
