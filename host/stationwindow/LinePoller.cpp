#include "stationwindow/LinePoller.h"

#include <QTimer>
#include <exception>

#include "hostkit/Console.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "port/SerialPortManager.h"

namespace zarvik::host {

namespace {

constexpr std::uint8_t kGood = 1;

}  // namespace

PolledLine PolledLine::Numbered(int line, int count, int nozzles) {
    PolledLine polled{line, {}};
    for (int d = 1; d <= count; ++d) polled.dispensers.push_back({d, nozzles, {}});
    return polled;
}

LinePoller::LinePoller(TDriver25* driver, port::SerialPortManager& port, std::shared_ptr<StatusReplies> replies,
                       PolledLine line)
    : driver_(driver), port_(port), replies_(std::move(replies)), line_(line), timer_(new QTimer(this)) {
    qRegisterMetaType<DispenserReading>();
    qRegisterMetaType<LineQuality>();
    connect(timer_, &QTimer::timeout, this, &LinePoller::PollRound);
}

LinePoller::~LinePoller() = default;

void LinePoller::RequestPause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void LinePoller::Resume() {
    std::lock_guard lock(mutex_);
    paused_ = false;
}

bool LinePoller::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

void LinePoller::WaitIdle() const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_; });
}

bool LinePoller::Enter() {
    std::lock_guard lock(mutex_);
    if (paused_) return false;
    busy_ = true;
    return true;
}

void LinePoller::Leave() {
    bool parked = false;
    {
        std::lock_guard lock(mutex_);
        busy_ = false;
        parked = paused_;
    }
    idle_.notify_all();
    if (parked) Q_EMIT Parked(line_.line);
}

void LinePoller::Start() {
    timer_->start(kPollMs);
    PollRound();
}

void LinePoller::PollRound() {
    for (const PolledDispenser& d : line_.dispensers) {
        if (!Enter()) return;  // paused: the rest of the round is skipped
        const DispenserReading reading = PollDispenser(d);
        Leave();
        if (reading.failure != ReadingFailure::None) {
            lastCause_ = reading.cause;
            lastCauseTime_ = reading.time;
        }
        Q_EMIT DispenserPolled(line_.line, reading);
    }
    const port::LineStatistics c = port_.Statistics(line_.line);
    Q_EMIT QualityRead(line_.line, LineQuality{c.exchanges, c.good, c.bad, c.timeouts, c.deviceErrors, c.reopens,
                                               lastCause_, lastCauseTime_});
}

DispenserReading LinePoller::PollDispenser(const PolledDispenser& dispenser) {
    DispenserReading reading;
    reading.dispenser = dispenser.number;
    replies_->Forget(line_.line);
    TDispenserStatus status{};
    try {
        slots::GetDispenserStatus(driver_, line_.line, dispenser.number, dispenser.nozzles, status);
        reading.lineResult = slots::GetLineResult(driver_, line_.line);
    } catch (const std::exception& error) {
        reading.time = std::chrono::system_clock::now();
        reading.failure = ReadingFailure::NoReply;
        reading.cause = FailureCause(QString::fromStdString(ErrorText(error)));
        return reading;
    }
    reading.time = std::chrono::system_clock::now();
    if (reading.lineResult != kGood) {
        // The poll ended at a nozzle whose reply was bad: the record is not whole.
        reading.failure = ReadingFailure::BadReply;
        reading.cause = FailureCause(QString());
        return reading;
    }
    reading.state = status.State;
    reading.nozzle = status.StateNozzle;
    if (reading.nozzle != 0) {
        if (const auto own = replies_->Find(line_.line, dispenser.number, reading.nozzle)) {
            reading.hasValues = true;
            reading.litres = own->litres;
            reading.money = own->money;
        }
    }
    return reading;
}

QString LinePoller::FailureCause(const QString& driverText) const {
    // Most telling first: a narrow cell shows the start.
    QStringList parts;
    const std::int32_t error = port_.GetLineError(static_cast<std::uint8_t>(line_.line));
    if (error != 0)
        parts
            << QStringLiteral("ошибка линии %1: %2").arg(error).arg(QString::fromUtf8(port::DescribeLineError(error)));
    const std::string fault = port_.LineFault(line_.line).text;
    if (!fault.empty() && (error == port::kErrorDevice || error == port::kErrorNotOpen))
        parts << QString::fromStdString(fault);
    if (!driverText.isEmpty()) parts << driverText;
    if (parts.isEmpty()) parts << QStringLiteral("ошибка обмена");
    return parts.join(QStringLiteral("; "));
}

void LinePoller::Pour(int dispenser, int nozzle, double litres) {
    if (!Enter()) {
        Q_EMIT PourFinished(line_.line, dispenser, nozzle, QStringLiteral("линия занята окном настройки"));
        return;
    }
    QString error;
    try {
        slots::SetVolumeDose(driver_, line_.line, dispenser, nozzle, litres);
        std::uint8_t result = slots::GetLineResult(driver_, line_.line);
        if (result != kGood) {
            error = QStringLiteral("доза не принята (результат %1)").arg(result);
        } else {
            slots::StartDispenser(driver_, line_.line, dispenser, nozzle);
            result = slots::GetLineResult(driver_, line_.line);
            if (result != kGood) error = QStringLiteral("пуск не принят (результат %1)").arg(result);
        }
    } catch (const std::exception& failure) {
        error = QString::fromStdString(ErrorText(failure));
    }
    Leave();
    Q_EMIT PourFinished(line_.line, dispenser, nozzle, error);
}

}  // namespace zarvik::host
