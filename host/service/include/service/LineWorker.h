// The station service's worker for one line: a thread of its own that owns
// every driver call on that line. It opens the line through the driver, then
// polls every dispenser of the line in turn, continuously, at the wire's pace
// (operations 21 and 3 as one unit); each nozzle's values come from that
// nozzle's own status reply (StatusReplies), never from the driver's values
// of another nozzle. Every poll and every whole cycle goes to StationState.
// When a whole cycle fails at once (the port service deferring a reopen of a
// device that is away) the worker pauses briefly instead of spinning.
//
// Run queues a job (a totals read, descriptions, a parameter read) that the
// worker runs between two dispenser polls (one job a gap), and waits for it at most
// `timeout`: a job still queued then never runs, one under way runs to its
// end and its result is dropped. An urgent job (a stop) goes ahead of every
// other job and runs before the next dispenser poll: every urgent job queued
// runs in that gap, in the order queued, even one whose caller timed out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "port/SerialPortManager.h"
#include "service/StationState.h"
#include "station/StationFile.h"
#include "station/StatusReplies.h"
#include "zarvik/driver.h"

namespace zarvik::service {

using json = nlohmann::json;
using LogFunction = std::function<void(int priority, std::string_view message)>;

// What a job may use: the line's driver and port service, on the worker's
// thread, and the host's own sequence numbers for requests it sends itself.
struct LineContext {
    TDriver25* driver;
    port::SerialPortManager& port;
    int line;
    std::function<std::uint8_t()> nextSequence;
    // Why the latest exchange failed: the line error, the device's fault,
    // then the driver's text.
    std::function<std::string(const std::string& driverText)> failureCause;
    // Polls one dispenser of the line now and records it in the state;
    // false when the poll failed.
    std::function<bool(int dispenser)> poll;
    StationState& state;
};

enum class Urgency { Normal, Urgent };

// The job did not end within its caller's timeout.
class JobTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LineWorker {
public:
    using Job = std::function<json(LineContext&)>;

    // driver, port, replies and state outlive the worker; replies sees every
    // frame of the port service.
    LineWorker(TDriver25* driver, port::SerialPortManager& port, std::shared_ptr<host::StatusReplies> replies,
               host::StationLine line, StationState& state, LogFunction log);
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Called on the worker after each good poll of a dispenser (the sales
    // journal follows the deliveries there); set before Start.
    using AfterPoll = std::function<void(LineContext&, const host::StationDispenser&, const PumpReading&)>;
    void SetAfterPoll(AfterPoll afterPoll) { afterPoll_ = std::move(afterPoll); }

    void Start();
    void Stop();  // idempotent; waits for the call under way

    // Runs the job on the worker's thread; its exception is rethrown here.
    // Throws JobTimeout when it did not end within `timeout`.
    json Run(Job job, std::chrono::milliseconds timeout, Urgency urgency = Urgency::Normal);

    const host::StationLine& Line() const { return line_; }
    // Dispenser polls ended so far (a watchdog sees the worker move on).
    std::uint64_t Progress() const;

private:
    struct Pending;

    void Loop();
    void OpenLine();
    bool Poll(const host::StationDispenser& dispenser);
    void RunJobs();
    void RunJob(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Pending>& pending);
    void EndCycle(std::chrono::steady_clock::time_point start, int good, int failed);
    std::string FailureCause(const std::string& driverText) const;
    void NoteHealth(int good, int failed);

    TDriver25* const driver_;
    port::SerialPortManager& port_;
    const std::shared_ptr<host::StatusReplies> replies_;
    const host::StationLine line_;
    StationState& state_;
    const LogFunction log_;
    LineContext context_;
    AfterPoll afterPoll_;
    std::uint8_t sequence_ = 0x80;
    Health logged_ = Health::Good;  // the health last logged

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // a job queued or stop asked
    std::condition_variable done_;  // a job ended
    std::deque<std::shared_ptr<Pending>> jobs_;
    std::deque<std::shared_ptr<Pending>> urgent_;
    bool stopping_ = false;
    std::uint64_t polls_ = 0;
    std::thread thread_;
};

}  // namespace zarvik::service
