#include "service/LineWorker.h"

#include <syslog.h>

#include "hostkit/Console.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "service/ControlJobs.h"
#include "station/Session.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr std::uint8_t kPollGood = 1;
// A cycle that failed whole within this time failed at once (no wire
// waited on): the worker pauses before the next.
constexpr auto kQuickFailure = std::chrono::milliseconds(20);
constexpr auto kFailurePause = std::chrono::milliseconds(100);

}  // namespace

struct LineWorker::Pending {
    Job job;
    bool started = false;
    bool done = false;
    bool abandoned = false;
    json result;
    std::exception_ptr error;
};

LineWorker::LineWorker(TDriver25* driver, port::SerialPortManager& port, std::shared_ptr<host::StatusReplies> replies,
                       host::StationLine line, StationState& state, LogFunction log)
    : driver_(driver),
      port_(port),
      replies_(std::move(replies)),
      line_(std::move(line)),
      state_(state),
      log_(std::move(log)),
      context_{driver,
               port,
               line_.line,
               [this] { return sequence_++; },
               [this](const std::string& text) { return FailureCause(text); },
               [this](int dispenser) {
                   const host::StationDispenser* d = line_.Find(dispenser);
                   return d != nullptr && Poll(*d);
               },
               state} {
    state_.AddLine(line_.line);
    for (const host::StationDispenser& d : line_.dispensers) state_.AddPump(line_.line, d.number);
}

LineWorker::~LineWorker() { Stop(); }

void LineWorker::Start() {
    thread_ = std::thread([this] { Loop(); });
}

void LineWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::uint64_t LineWorker::Progress() const {
    std::lock_guard lock(mutex_);
    return polls_;
}

json LineWorker::Run(Job job, std::chrono::milliseconds timeout, Urgency urgency) {
    auto pending = std::make_shared<Pending>();
    pending->job = std::move(job);
    std::unique_lock lock(mutex_);
    if (stopping_) throw JobTimeout("the line's worker is stopping");
    (urgency == Urgency::Urgent ? urgent_ : jobs_).push_back(pending);
    wake_.notify_all();
    if (!done_.wait_for(lock, timeout, [&] { return pending->done; })) {
        pending->abandoned = true;  // a job still queued is skipped, unless urgent
        if (urgency == Urgency::Urgent && !pending->started)
            throw JobTimeout("the line's worker did not get to the stop within " + std::to_string(timeout.count()) +
                             " ms; it is sent once the worker is free");
        throw JobTimeout(pending->started
                             ? "the line did not finish the job within " + std::to_string(timeout.count()) + " ms"
                             : "the line's worker did not get to the job within " + std::to_string(timeout.count()) +
                                   " ms");
    }
    if (pending->error) std::rethrow_exception(pending->error);
    return std::move(pending->result);
}

void LineWorker::RunJobs() {
    std::unique_lock lock(mutex_);
    // Every urgent job before the next poll, also one its caller stopped
    // waiting for: a stop is sent late rather than never.
    while (!urgent_.empty() && !stopping_) {
        const std::shared_ptr<Pending> pending = urgent_.front();
        urgent_.pop_front();
        RunJob(lock, pending);
    }
    // One other job between two dispenser polls: a flood of reads slows the
    // polls down but never stops them (the reads' callers time out instead).
    while (!jobs_.empty() && !stopping_) {
        const std::shared_ptr<Pending> pending = jobs_.front();
        jobs_.pop_front();
        if (pending->abandoned) continue;
        RunJob(lock, pending);
        return;
    }
}

// Runs one job with the lock released; its result or exception is kept.
void LineWorker::RunJob(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Pending>& pending) {
    pending->started = true;
    lock.unlock();
    json result;
    std::exception_ptr error;
    try {
        result = pending->job(context_);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    pending->result = std::move(result);
    pending->error = error;
    pending->done = true;
    done_.notify_all();
}

void LineWorker::OpenLine() {
    const std::int32_t opened = host::slots::OpenPort(driver_, line_.line);
    if (opened == 0) {
        log_(LOG_INFO, "line " + std::to_string(line_.line) + " open on " + line_.device);
        return;
    }
    // The port service reopens it on a later exchange: the worker polls anyway.
    const std::string cause = port_.LineFault(line_.line).text;
    log_(LOG_WARNING, "line " + std::to_string(line_.line) + " not open: " + port::DescribeLineError(opened) +
                          (cause.empty() ? "" : ": " + cause));
}

void LineWorker::Loop() {
    OpenLine();
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        int good = 0;
        int failed = 0;
        for (const host::StationDispenser& d : line_.dispensers) {
            RunJobs();
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
            }
            (Poll(d) ? good : failed) += 1;
            std::lock_guard lock(mutex_);
            ++polls_;
        }
        EndCycle(start, good, failed);
    }
}

void LineWorker::EndCycle(std::chrono::steady_clock::time_point start, int good, int failed) {
    const auto took = std::chrono::steady_clock::now() - start;
    CycleEnd cycle;
    cycle.good = good;
    cycle.failed = failed;
    cycle.milliseconds = std::chrono::duration<double, std::milli>(took).count();
    cycle.open = port_.IsOpen(line_.line);
    cycle.statistics = port_.Statistics(line_.line);
    state_.CycleEnded(line_.line, cycle);
    NoteHealth(good, failed);
    std::unique_lock lock(mutex_);
    if (good == 0 && took < kQuickFailure)
        wake_.wait_for(lock, kFailurePause, [this] { return stopping_ || !jobs_.empty() || !urgent_.empty(); });
}

void LineWorker::NoteHealth(int good, int failed) {
    const Health now = good == 0 ? Health::Dead : failed > 0 ? Health::Failing : Health::Good;
    if (now == logged_ || now == Health::Failing) return;
    logged_ = now;
    const auto l = state_.Line(line_.line);
    const std::string cause = l && l->lastFault ? ": " + l->lastFault->cause : "";
    if (now == Health::Dead)
        log_(LOG_ERR, "line " + std::to_string(line_.line) + " dead" + cause);
    else
        log_(LOG_NOTICE, "line " + std::to_string(line_.line) + " good again");
}

bool LineWorker::Poll(const host::StationDispenser& dispenser) {
    replies_->Forget(line_.line);
    TDispenserStatus status{};
    std::uint8_t result = 0;
    try {
        host::slots::GetDispenserStatus(driver_, line_.line, dispenser.number, dispenser.nozzles, status);
        result = host::slots::GetLineResult(driver_, line_.line);
    } catch (const std::exception& error) {
        state_.PollFailed(line_.line, dispenser.number,
                          {FailureCause(host::ErrorText(error)), std::chrono::system_clock::now()});
        return false;
    }
    const auto now = std::chrono::system_clock::now();
    if (result != kPollGood) {
        // The poll ended at a nozzle whose reply was bad: the record is not whole.
        state_.PollFailed(
            line_.line, dispenser.number,
            {FailureCause("line result " + std::to_string(result) + " (" + host::LineResultMeaning(result) + ")"),
             now});
        return false;
    }
    PumpReading reading;
    reading.at = now;
    reading.state = status.State;
    reading.nozzle = status.StateNozzle;
    for (int k = 1; k <= dispenser.nozzles && k <= kMaxNozzles; ++k) {
        const auto index = static_cast<std::size_t>(k - 1);
        reading.nozzleStates[index] = static_cast<std::uint8_t>(status.NozzleStates[index]);
        if (const auto own = replies_->Find(line_.line, dispenser.number, k))
            reading.values[index] = PumpReading::Values{own->litres, own->money, own->status};
    }
    state_.PollGood(line_.line, dispenser.number, reading);
    if (afterPoll_) afterPoll_(context_, dispenser, reading);
    ApplyPendingPrices(context_, dispenser);
    return true;
}

std::string LineWorker::FailureCause(const std::string& driverText) const {
    std::string cause;
    const auto append = [&cause](const std::string& part) { cause += (cause.empty() ? "" : "; ") + part; };
    const std::int32_t error = port_.GetLineError(static_cast<std::uint8_t>(line_.line));
    if (error != 0)
        append("ошибка линии " + std::to_string(error) + ": " + std::string(port::DescribeLineError(error)));
    const std::string fault = port_.LineFault(line_.line).text;
    if (!fault.empty() && (error == port::kErrorDevice || error == port::kErrorNotOpen)) append(fault);
    if (!driverText.empty()) append(driverText);
    return cause.empty() ? "ошибка обмена" : cause;
}

}  // namespace zarvik::service
