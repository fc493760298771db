// The station window of zarvik-host with the shipped library loaded as the
// host loads it, on a station of two lines: line 1 served by the simulator,
// line 2 a pseudo-terminal nobody answers. Every driver exchange passes a
// probe that notes its thread and whether two ever overlap.
#include <pty.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "loader/DriverLibrary.h"
#include "port/SerialPortManager.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"
#include "stationwindow/StationWindow.h"

namespace {

using zarvik::host::StationWindow;

constexpr int kGoodLine = 1;
constexpr int kDeadLine = 2;
constexpr int kDispensers = 2;
constexpr int kWaitMs = 30000;
// The dead line waits this long for each reply: far longer than the window
// may ever be held up.
constexpr std::chrono::milliseconds kDeadLineResponse{1500};

enum DispenserColumn { kColState = 2, kColLink = 6 };
enum QualityColumn { kColExchanges = 2, kColGood, kColBad, kColTimeouts };

// The port service as the driver sees it, with every exchange noted: its
// thread, and how many run at once on its line (StartTransfer to
// WaitTransfer). Lines may run in parallel; one line's exchanges never may.
class ProbePort : public zarvik::TPortManager {
public:
    explicit ProbePort(zarvik::port::SerialPortManager& port) : port_(port) {}

    struct Counts {
        int total = 0;
        int whileWindowOpen = 0;
    };
    std::atomic<bool> windowOpen{false};
    std::atomic<int> maxInFlight{0};  // the most on one line at once
    std::atomic<int> inFlight[zarvik::port::SerialPortManager::kLines + 1] = {};
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<int> deadFinished{0};  // exchanges ended on the dead line

    std::map<std::thread::id, Counts> ByThread() const {
        std::lock_guard lock(mutex_);
        return byThread_;
    }

    std::int32_t GetLineError(std::uint8_t line) override { return port_.GetLineError(line); }
    void SetLineError(std::uint8_t line, std::int32_t code) override { port_.SetLineError(line, code); }
    void SetLineState(std::uint8_t line, std::uint8_t state) override { port_.SetLineState(line, state); }
    std::uint8_t GetLineState(std::uint8_t line) override { return port_.GetLineState(line); }
    void SetReplyChecker(std::uint8_t line, zarvik::TReplyChecker checker) override {
        port_.SetReplyChecker(line, checker);
    }
    void SetOpenHandler(std::int32_t line, zarvik::TOpenHandler handler) override {
        port_.SetOpenHandler(line, handler);
    }
    std::int32_t OpenLine(std::int32_t line, std::int32_t mode, std::int32_t baud, std::int32_t flags,
                          std::int32_t retries, std::int32_t reserved) override {
        return port_.OpenLine(line, mode, baud, flags, retries, reserved);
    }
    zarvik::TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t line2, const std::uint8_t* frame,
                                          std::uint8_t frameLength, std::uint8_t* reply, std::uint8_t expectedLength,
                                          std::int32_t mode, std::int32_t reserved) override {
        const int now = ++inFlight[line];
        for (int seen = maxInFlight; now > seen && !maxInFlight.compare_exchange_weak(seen, now);) {
        }
        ++started;
        transferLine_ = line;
        {
            std::lock_guard lock(mutex_);
            Counts& counts = byThread_[std::this_thread::get_id()];
            ++counts.total;
            if (windowOpen) ++counts.whileWindowOpen;
        }
        try {
            return port_.StartTransfer(line, line2, frame, frameLength, reply, expectedLength, mode, reserved);
        } catch (...) {
            Done(line);
            throw;
        }
    }
    std::int32_t WaitTransfer(const zarvik::TTransferHandle& handle) override {
        const std::int32_t code = port_.WaitTransfer(handle);
        Done(transferLine_);
        return code;
    }

private:
    void Done(int line) {
        if (line == kDeadLine) ++deadFinished;
        --inFlight[line];
        ++finished;
    }

    static thread_local inline int transferLine_ = 0;  // a transfer's wait runs on the thread that started it
    zarvik::port::SerialPortManager& port_;
    mutable std::mutex mutex_;
    std::map<std::thread::id, Counts> byThread_;
};

}  // namespace

class StationWindowTest : public QObject {
    Q_OBJECT

    zarvik::host::DriverLibrary library_;
    std::unique_ptr<zarvik::sim::Station> station_;
    std::unique_ptr<zarvik::sim::SerialEndpoint> endpoint_;
    int deadMaster_ = -1;
    std::unique_ptr<zarvik::port::SerialPortManager> port_;
    std::unique_ptr<ProbePort> probe_;
    std::unique_ptr<StationWindow> window_;
    std::unique_ptr<zarvik::TDriver25> driver_;
    QStringList errorBoxes_;
    QTimer boxWatch_;
    std::thread::id guiThread_ = std::this_thread::get_id();

    QTableWidget* Table(const char* name) const { return window_->findChild<QTableWidget*>(QString::fromLatin1(name)); }
    QString Cell(const char* table, int row, int column) const {
        const QTableWidgetItem* item = Table(table)->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    int LineCount(int lineRow, int column) const { return Cell("LinesTable", lineRow, column).toInt(); }

    // Exchanges so far on threads other than the GUI thread and `except`.
    int WorkerExchanges(const std::set<std::thread::id>& workers, bool whileOpen) const {
        int n = 0;
        for (const auto& [thread, counts] : probe_->ByThread())
            if (workers.count(thread) != 0) n += whileOpen ? counts.whileWindowOpen : counts.total;
        return n;
    }

    // Runs `script` once the dialog named `name` runs modally.
    // Runs `script` once the dialog called `name` runs modally (and `ready`,
    // when given, holds for it).
    void WhenModal(const QString& name, std::function<void(QDialog*)> script,
                   std::function<bool(QDialog*)> ready = {}) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, name, script, ready] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != name || (ready && !ready(dialog))) return;
            poll->stop();
            poll->deleteLater();
            script(dialog);
        });
        poll->start(20);
    }

private slots:
    void initTestCase() {
        library_.Load(ZARVIK_LIBRARY_PATH);

        zarvik::sim::StationConfig config;
        config.addresses = {1};
        config.nozzlesPerDispenser = 1;
        config.timing = {0.05, 0.05, 25.0, 0.5, 0.05};
        station_ = std::make_unique<zarvik::sim::Station>(config);
        endpoint_ = std::make_unique<zarvik::sim::SerialEndpoint>(*station_, zarvik::sim::EndpointOptions{9600, false});
        const std::string goodPty = endpoint_->OpenPty();
        endpoint_->Start();

        // The dead line: a terminal whose far end is held open and never read.
        int slave = -1;
        char deadPty[128] = {};
        QVERIFY(openpty(&deadMaster_, &slave, deadPty, nullptr, nullptr) == 0);
        ::close(slave);

        port_ = std::make_unique<zarvik::port::SerialPortManager>();
        QVERIFY(port_->SetDevice(kGoodLine, goodPty));
        QVERIFY(port_->SetDevice(kDeadLine, deadPty));
        zarvik::port::LineSettings dead;
        dead.response = kDeadLineResponse;
        port_->SetSettings(kDeadLine, dead);
        probe_ = std::make_unique<ProbePort>(*port_);

        const auto good = zarvik::host::PolledLine::Numbered(kGoodLine, kDispensers, 1);
        const auto deadLine = zarvik::host::PolledLine::Numbered(kDeadLine, kDispensers, 1);
        window_ = std::make_unique<StationWindow>(std::vector<zarvik::host::StationWindowLine>{
            {good, QString::fromStdString(goodPty)}, {deadLine, QString::fromLatin1(deadPty)}});
        driver_.reset(library_.Create(0, probe_.get(), reinterpret_cast<std::intptr_t>(window_.get())));
        QVERIFY(driver_ != nullptr);
        QCOMPARE(driver_->OpenPort(kGoodLine), 0);
        QCOMPARE(driver_->OpenPort(kDeadLine), 0);

        // An error box would block the test: note its text and close it.
        connect(&boxWatch_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                errorBoxes_ << box->text();
                box->reject();
            }
        });
        boxWatch_.start(200);

        window_->Attach(driver_.get(), *port_);
        window_->show();
        QVERIFY(window_->ServiceEntry() != nullptr);
    }

    void cleanupTestCase() {
        boxWatch_.stop();
        if (window_) window_->StopPolling();
        // However many exchanges ran, none overlapped another.
        QCOMPARE(probe_->maxInFlight.load(), 1);
        driver_.reset();
        window_.reset();
        endpoint_.reset();
        port_.reset();
        if (deadMaster_ >= 0) ::close(deadMaster_);
    }

    void deadLineLeavesTheWindowResponsive() {
        // Catch the dead line's worker inside an exchange, then have the GUI
        // thread handle an event: it must come before that exchange ends.
        std::chrono::steady_clock::duration longestGap{};
        auto last = std::chrono::steady_clock::now();
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] {
            const auto now = std::chrono::steady_clock::now();
            longestGap = std::max(longestGap, now - last);
            last = now;
        });
        ticks.start(10);
        for (int i = 0; i < 3; ++i) {
            const int ended = probe_->deadFinished;
            QVERIFY(QTest::qWaitFor([&] { return probe_->inFlight[kDeadLine] > 0 && probe_->deadFinished == ended; },
                                    kWaitMs));
            bool handled = false;
            QTimer::singleShot(0, this, [&] { handled = true; });
            QVERIFY(QTest::qWaitFor([&] { return handled; }, kWaitMs));
            QCOMPARE(probe_->deadFinished.load(), ended);
            QVERIFY(!Table("DispensersTable")->grab().isNull());  // and paints
            // On to the next exchange.
            QVERIFY(QTest::qWaitFor([&] { return probe_->deadFinished > ended; }, kWaitMs));
        }
        // The dead line's timeouts are counted and shown, its dispensers have no link.
        QVERIFY(QTest::qWaitFor([&] { return LineCount(1, kColTimeouts) >= 2; }, kWaitMs));
        QCOMPARE(LineCount(1, kColGood), 0);
        QVERIFY(LineCount(1, kColBad) >= LineCount(1, kColTimeouts));
        for (int d = 0; d < kDispensers; ++d) {
            QVERIFY(QTest::qWaitFor([&] { return Cell("DispensersTable", kDispensers + d, kColLink) == "нет ответа"; },
                                    kWaitMs));
            QVERIFY(!Cell("DispensersTable", kDispensers + d, kColState).isEmpty());
        }
        qInfo("longest gap between 10 ms ticks while the dead line timed out: %lld ms",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count()));
    }

    void eachLineShowsItsQuality() {
        QVERIFY(QTest::qWaitFor([&] { return LineCount(0, kColGood) >= 4; }, kWaitMs));
        QCOMPARE(LineCount(0, kColTimeouts), 0);
        QCOMPARE(LineCount(0, kColBad), 0);
        QVERIFY(LineCount(0, kColExchanges) >= LineCount(0, kColGood));
        for (int d = 0; d < kDispensers; ++d) {
            QVERIFY(QTest::qWaitFor([&] { return Cell("DispensersTable", d, kColLink) == "есть"; }, kWaitMs));
            QCOMPARE(Cell("DispensersTable", d, kColState), QStringLiteral("Свободна"));
        }
    }

    void theWindowNeverCallsTheDriverOnALine() {
        // Pouring goes through the good line's worker too.
        auto* pour = window_->findChild<QAction*>(QStringLiteral("PourAction"));
        QVERIFY(pour != nullptr);
        pour->trigger();
        QVERIFY(QTest::qWaitFor([&] { return station_->Nozzle(1, 1).status != zarvik::sim::kStatusIdle; }, kWaitMs));
        QCOMPARE(errorBoxes_, QStringList());
        QCOMPARE(probe_->ByThread()[guiThread_].total, 0);
    }

    void pollingPausesWhileTheParameterWindowIsShown() {
        // Every exchange so far came from the two workers.
        std::set<std::thread::id> workers;
        for (const auto& [thread, counts] : probe_->ByThread())
            if (thread != guiThread_ && counts.total > 0) workers.insert(thread);
        QCOMPARE(workers.size(), std::size_t{2});

        bool paused = false;
        bool passRead = false;
        WhenModal(
            QStringLiteral("ParamFrm"),
            [&](QDialog* window) {
                const auto closeWindow = qScopeGuard([&] {
                    probe_->windowOpen = false;
                    window->reject();
                });
                probe_->windowOpen = true;
                paused = window_->PollingPaused();
                auto* readAll = window->findChild<QAbstractButton*>(QStringLiteral("Button1"));
                QVERIFY(readAll != nullptr);
                const int opened = probe_->started;
                QVERIFY(QTest::qWaitFor([&] { return probe_->started > opened && readAll->isEnabled(); }, kWaitMs));
                // A read-all pass on its own thread, with the pollers' ticks
                // coming and going; then a few ticks more.
                const int clicked = probe_->started;
                readAll->click();
                QVERIFY(QTest::qWaitFor([&] { return probe_->started > clicked && readAll->isEnabled(); }, kWaitMs));
                QTest::qWait(3 * zarvik::host::LinePoller::kPollMs);
                passRead = true;
            },
            // The window is modal already while its page loads (and serves events
            // then): the script starts once the load is over and its pass runs.
            [](QDialog* window) {
                auto* readAll = window->findChild<QAbstractButton*>(QStringLiteral("Button1"));
                return readAll != nullptr && !readAll->isEnabled();
            });
        window_->ServiceEntry()->trigger();  // modal until the script closes it

        QVERIFY(passRead);
        QCOMPARE(WorkerExchanges(workers, true), 0);
        QVERIFY(paused);
        QVERIFY(!window_->PollingPaused());
        // The window's own exchanges ran on the GUI thread and its pass thread.
        int windowExchanges = 0;
        for (const auto& [thread, counts] : probe_->ByThread())
            if (workers.count(thread) == 0) windowExchanges += counts.whileWindowOpen;
        QVERIFY(windowExchanges > 0);
        // Polling comes back once the window is closed.
        const int afterClose = WorkerExchanges(workers, false);
        QVERIFY(QTest::qWaitFor([&] { return WorkerExchanges(workers, false) > afterClose; }, kWaitMs));
        QCOMPARE(errorBoxes_, QStringList());
        QCOMPARE(probe_->maxInFlight.load(), 1);
    }

    void stopPollingEndsTheWorkers() {
        window_->StopPolling();
        const int started = probe_->started;
        QTest::qWait(2 * zarvik::host::LinePoller::kPollMs);
        QCOMPARE(probe_->started.load(), started);
        QCOMPARE(probe_->inFlight[kGoodLine].load(), 0);
        QCOMPARE(probe_->inFlight[kDeadLine].load(), 0);
    }

    // A station file's line: its dispensers in the file's order, by their own
    // numbers and names; each reading lands on its dispenser's row, and a
    // dispenser the line does not have shows no link on its own row only.
    void dispensersAreShownByTheirNumbersInTheFilesOrder() {
        const zarvik::host::PolledLine line{kGoodLine, {{2, 1, QStringLiteral("ТРК 2")}, {1, 1, {}}, {3, 1, {}}}};
        auto window = std::make_unique<StationWindow>(
            std::vector<zarvik::host::StationWindowLine>{{line, QStringLiteral("station")}});
        std::unique_ptr<zarvik::TDriver25> driver(
            library_.Create(0, probe_.get(), reinterpret_cast<std::intptr_t>(window.get())));
        QVERIFY(driver != nullptr);
        QCOMPARE(driver->OpenPort(kGoodLine), 0);
        const auto table = [&window] { return window->findChild<QTableWidget*>(QStringLiteral("DispensersTable")); };
        const auto cell = [&table](int row, int column) {
            const QTableWidgetItem* item = table()->item(row, column);
            return item != nullptr ? item->text() : QString();
        };
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(cell(0, 1), QStringLiteral("2 (ТРК 2)"));
        QCOMPARE(cell(1, 1), QStringLiteral("1"));
        QCOMPARE(cell(2, 1), QStringLiteral("3"));
        window->Attach(driver.get(), *port_);
        QVERIFY(QTest::qWaitFor([&] { return !cell(2, kColLink).isEmpty(); }, kWaitMs));
        QVERIFY(QTest::qWaitFor([&] { return cell(0, kColLink) == QStringLiteral("есть"); }, kWaitMs));
        QCOMPARE(cell(0, kColState), QStringLiteral("Свободна"));
        QCOMPARE(cell(1, kColState), QStringLiteral("Свободна"));
        QCOMPARE(cell(1, kColLink), QStringLiteral("есть"));
        QVERIFY2(cell(2, kColLink).startsWith(QStringLiteral("нет")), qPrintable(cell(2, kColLink)));
        window->StopPolling();
        driver.reset();
        window.reset();
    }
};

QTEST_MAIN(StationWindowTest)
#include "StationWindowTest.moc"
