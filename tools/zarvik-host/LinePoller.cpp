#include "LinePoller.h"

#include <QTimer>
#include <exception>

#include "DriverSlots.h"
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

LinePoller::LinePoller(TDriver25* driver, const port::SerialPortManager& port, PolledLine line)
    : driver_(driver), port_(port), line_(line), timer_(new QTimer(this)) {
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
        Q_EMIT DispenserPolled(line_.line, reading);
    }
    const port::LineStatistics counters = port_.Statistics(line_.line);
    Q_EMIT QualityRead(line_.line, LineQuality{counters.exchanges, counters.good, counters.bad, counters.timeouts});
}

DispenserReading LinePoller::PollDispenser(const PolledDispenser& dispenser) {
    DispenserReading reading;
    reading.dispenser = dispenser.number;
    try {
        TDispenserStatus status{};
        slots::GetDispenserStatus(driver_, line_.line, dispenser.number, dispenser.nozzles, status);
        reading.lineResult = slots::GetLineResult(driver_, line_.line);
        slots::GetDeliveryValues(driver_, line_.line, dispenser.number, reading.litres, reading.money);
        reading.state = status.State;
        reading.nozzle = status.StateNozzle;
    } catch (const std::exception& error) {
        // The text lives in the library, which stays loaded: copied here.
        reading.error = QString::fromUtf8(error.what());
        if (reading.error.isEmpty()) reading.error = QStringLiteral("ошибка обмена");
    }
    return reading;
}

void LinePoller::Pour(int dispenser, int nozzle, double litres) {
    if (!Enter()) {
        Q_EMIT PourFinished(line_.line, QStringLiteral("линия занята окном настройки"));
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
        error = QString::fromUtf8(failure.what());
    }
    Leave();
    Q_EMIT PourFinished(line_.line, error);
}

}  // namespace zarvik::host
