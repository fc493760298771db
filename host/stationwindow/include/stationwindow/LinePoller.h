// The station window's worker for one line: it owns every driver call the
// window makes on that line, runs on a thread of its own and hands each
// result to the window by a queued signal, so a line that does not answer
// never holds up the window.
//
// Every few hundred milliseconds (Start) it polls each dispenser of the line
// (operations 21 and 3 as one unit) and then reads the line's quality from
// the port service. The litres and money of a reading are those of the
// nozzle its state names, from that nozzle's own status reply (StatusReplies),
// never the driver's values of the nozzle this process last started. Pour
// orders a dose on one nozzle and starts it.
//
// RequestPause (any thread) stops the worker before its next driver call;
// the call under way, if any, runs to its end and the worker then emits
// Parked. WaitIdle blocks until no call runs. Once paused, no driver call of
// this worker starts until Resume, so a library window may use the line.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "station/StatusReplies.h"
#include "zarvik/driver.h"

class QTimer;

namespace zarvik::host {

struct PolledDispenser {
    int number = 1;   // on its line
    int nozzles = 3;  // polled with operation 21
    QString name;     // shown beside the number; empty: none
};

// The line a poller serves and the dispensers it polls, in the window's order.
struct PolledLine {
    int line = 1;
    std::vector<PolledDispenser> dispensers;

    // Dispensers 1..count with `nozzles` each.
    static PolledLine Numbered(int line, int count, int nozzles);
};

enum class ReadingFailure {
    None,
    NoReply,   // the exchange failed (ESerialIO): no reply, a device error, the line not open
    BadReply,  // a reply came and the driver judged it bad (line result 3)
};

struct DispenserReading {
    int dispenser = 0;
    std::chrono::system_clock::time_point time;  // when the poll ended
    ReadingFailure failure = ReadingFailure::None;
    QString cause;  // a failure's cause: the driver's text, the line error, the device's fault
    std::uint8_t lineResult = 0;
    // With no failure only:
    std::uint8_t state = 0;
    int nozzle = 0;          // the nozzle in the state's low bits, 0 for none
    bool hasValues = false;  // litres and money came from that nozzle's own reply
    double litres = 0;
    double money = 0;
};

// The port service's counters of the line: every exchange is good or bad,
// timeouts and device errors are among the bad. lastCause: the latest
// failure of a poll on the line, at lastCauseTime; empty while none came.
struct LineQuality {
    std::uint64_t exchanges = 0;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t deviceErrors = 0;
    std::uint64_t reopens = 0;
    QString lastCause;
    std::chrono::system_clock::time_point lastCauseTime;
};

class LinePoller : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 500;

    // driver and port outlive the poller; the driver's calls go by slot.
    // replies sees every frame of the port service.
    LinePoller(TDriver25* driver, port::SerialPortManager& port, std::shared_ptr<StatusReplies> replies,
               PolledLine line);
    ~LinePoller() override;

    const PolledLine& Line() const { return line_; }

    // --- any thread ---
    void RequestPause();
    void Resume();
    bool Busy() const;
    void WaitIdle() const;

    // --- the worker's thread (queued calls) ---
    void Start();  // polls now and every kPollMs
    void PollRound();
    void Pour(int dispenser, int nozzle, double litres);

Q_SIGNALS:
    void DispenserPolled(int line, zarvik::host::DispenserReading reading);
    void QualityRead(int line, zarvik::host::LineQuality quality);
    // error empty: the delivery was started.
    void PourFinished(int line, int dispenser, int nozzle, QString error);
    void Parked(int line);

private:
    bool Enter();  // false while paused; else the caller may call the driver until Leave
    void Leave();
    DispenserReading PollDispenser(const PolledDispenser& dispenser);
    QString FailureCause(const QString& driverText) const;

    TDriver25* const driver_;
    port::SerialPortManager& port_;
    const std::shared_ptr<StatusReplies> replies_;
    QString lastCause_;
    std::chrono::system_clock::time_point lastCauseTime_;
    const PolledLine line_;
    QTimer* timer_;

    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
    bool paused_ = false;
    bool busy_ = false;
};

}  // namespace zarvik::host

Q_DECLARE_METATYPE(zarvik::host::DispenserReading)
Q_DECLARE_METATYPE(zarvik::host::LineQuality)
