// Closing the parameter window while its read-all pass runs, against the
// simulated dispenser: once the window is hidden nothing of it uses the
// driver (at most the exchange in flight at the close completes), the GUI
// thread is not stuck in the meantime, and the next showing may hand the
// window another driver.
#include <QAction>
#include <QGuiApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "WindowRig.h"
#include "sim/Station.h"
#include "timer/FonTimer.h"

using namespace zarvik;
using namespace zarvik::testing;

namespace {

constexpr int kExchangeMs = 15;  // each exchange takes this long at the far end

// Parameter reads answered so far, counted where they are answered (the port
// service's own record is not for reading while a pass runs).
std::atomic<int> g_reads{0};

// Answers through an in-process simulator; every exchange takes a while so
// that a close lands in the middle of a pass.
FakePortManager::Responder SimulatorFarEnd(sim::Station& station, std::atomic<int>& reads = g_reads) {
    return
        [&station, &reads](const std::uint8_t* frame, std::size_t length, std::uint8_t* reply, std::size_t capacity) {
            if (frame[4] == 0x1F) ++reads;
            std::this_thread::sleep_for(std::chrono::milliseconds(kExchangeMs));
            const auto answer = station.Handle(frame, length, sim::SimClock::now());
            if (!answer) return std::size_t{0};
            const std::size_t n = std::min(answer->bytes.size(), capacity);
            std::memcpy(reply, answer->bytes.data(), n);
            return n;
        };
}

sim::StationConfig OneAddress() {
    sim::StationConfig config;
    config.addresses = {1};
    config.nozzlesPerDispenser = 1;
    return config;
}

}  // namespace

class ClosingTest : public QObject {
    Q_OBJECT
private slots:
    void init() { g_reads.store(0); }

    void Close_DuringAPass_NoExchangeAfterTheOneInFlight_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("Alt+X") << "altx";
        QTest::newRow("Закрыть") << "button";
        QTest::newRow("title bar") << "titlebar";
        QTest::newRow("done") << "done";
    }
    void Close_DuringAPass_NoExchangeAfterTheOneInFlight() {
        QFETCH(QString, how);
        HookRecorder hooks;
        sim::Station station(OneAddress());
        WindowRig rig;
        rig.farEnd = SimulatorFarEnd(station);
        rig.frm->RowHeightPause = 1;
        rig.frm->show();
        rig.frm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frm.get()));
        // Well inside the pass over table 1's twelve fields.
        QVERIFY(QTest::qWaitFor([&] { return g_reads.load() >= 3; }, 10000));
        QVERIFY(rig.frm->PassRunning());

        const int startedBeforeClose = rig.requests.load();
        if (how == "esc") QTest::keyClick(rig.frm.get(), Qt::Key_Escape);
        if (how == "altx") QTest::keyClick(rig.frm.get(), Qt::Key_X, Qt::AltModifier);
        if (how == "button") rig.frm->BitBtn1->click();
        if (how == "titlebar") rig.frm->close();
        if (how == "done") rig.frm->done(QDialog::Rejected);

        // The close returned only after the pass ended.
        QVERIFY(rig.frm->isHidden());
        QVERIFY(!rig.frm->PassRunning());
        QCOMPARE(rig.frm->OprosFonTimer->RunningTickThreads(), 0);
        QCOMPARE(rig.inFlight.load(), 0);
        QVERIFY(rig.frm->Button1->isEnabled());
        const int afterClose = rig.requests.load();
        QVERIFY2(afterClose - startedBeforeClose <= 1, qPrintable(QString::number(afterClose - startedBeforeClose)));
        // Nothing starts later either.
        QTest::qWait(10 * kExchangeMs);
        QCOMPARE(rig.requests.load(), afterClose);
        QVERIFY(!rig.overlapped.load());
        QVERIFY(hooks.errors.isEmpty());
    }

    // While the closing window waits for the exchange in flight, the GUI
    // thread still serves timers.
    void Close_WaitsWithoutFreezingTheGuiThread() {
        HookRecorder hooks;
        sim::Station station(OneAddress());
        WindowRig rig;
        rig.farEnd = [&](const std::uint8_t* frame, std::size_t length, std::uint8_t* reply, std::size_t capacity) {
            // A slow exchange: the close has to wait for it.
            std::this_thread::sleep_for(std::chrono::milliseconds(kExchangeMs * 10));
            return SimulatorFarEnd(station)(frame, length, reply, capacity);
        };
        rig.frm->RowHeightPause = 1;
        rig.frm->show();
        QVERIFY(QTest::qWaitFor([&] { return g_reads.load() >= 1 && rig.inFlight.load() == 1; }, 20000));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(1);
        rig.frm->done(QDialog::Rejected);
        ticker.stop();
        QVERIFY(!rig.frm->PassRunning());
        QVERIFY2(ticks > 0, "no timer was served while the close waited");
    }

    // ShowParamWindow hands the window a new driver only once the pass of
    // the earlier showing has ended: the old driver's port sees nothing after
    // the first modal run returns.
    void ShowParamWindow_NeverChangesTheDriverUnderARunningPass() {
        HookRecorder hooks;
        sim::Station first(OneAddress());
        sim::Station second(OneAddress());
        WindowRig rig;
        WindowRig other;  // its driver and port only
        std::atomic<int> otherReads{0};
        rig.farEnd = SimulatorFarEnd(first);
        other.farEnd = SimulatorFarEnd(second, otherReads);
        rig.frm->RowHeightPause = 1;
        ParamFrm = rig.frm.get();

        // Close from inside the modal run as soon as the pass is well on.
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (rig.frm->isVisible() && g_reads.load() >= 2 && rig.frm->PassRunning()) {
                closer.stop();
                QTest::keyClick(rig.frm.get(), Qt::Key_Escape);
            }
        });
        closer.start(5);
        ShowParamWindow(&rig.driver);
        const int oldPortRequests = rig.requests.load();
        QVERIFY(!rig.frm->PassRunning());

        QTimer closer2;
        connect(&closer2, &QTimer::timeout, this, [&] {
            if (rig.frm->isVisible() && otherReads.load() >= 2) {
                closer2.stop();
                rig.frm->done(QDialog::Rejected);
            }
        });
        closer2.start(5);
        ShowParamWindow(&other.driver);
        QCOMPARE(rig.frm->Driver, &other.driver);
        QCOMPARE(rig.requests.load(), oldPortRequests);
        QVERIFY(otherReads.load() >= 2);
        QVERIFY(!rig.overlapped.load() && !other.overlapped.load());
    }

    // Asked for again while shown (the menu once more): the window comes to
    // the front, its pass reads on to the end and nothing else changes. The
    // window is modal and on screen before its first table request.
    void ShowParamWindow_AgainWhileShown_ChangesNothing() {
        HookRecorder hooks;
        sim::Station station(OneAddress());
        WindowRig rig;
        rig.farEnd = SimulatorFarEnd(station);
        rig.frm->RowHeightPause = 1;
        ParamFrm = rig.frm.get();
        bool tableAsked = false, modalAtLoad = false, askedAgain = false, passWentOn = false;
        rig.gate = [&](std::uint8_t command, const std::uint8_t*) {
            if (command == 0x2D && !tableAsked) {
                tableAsked = true;
                QWindow* shown = rig.frm->windowHandle();
                modalAtLoad = shown && shown->isVisible() && QGuiApplication::modalWindow() == shown;
            }
            return true;
        };
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        QTimer again;
        connect(&again, &QTimer::timeout, this, [&] {
            if (!askedAgain && rig.frm->isVisible() && g_reads.load() >= 2) {
                askedAgain = true;
                ShowParamWindow(&rig.driver);
                passWentOn = rig.frm->PassRunning() && !rig.frm->Button1->isEnabled();
            } else if (askedAgain && rig.frm->Button1->isEnabled() && !rig.frm->PassRunning()) {
                again.stop();
                rig.frm->done(QDialog::Rejected);
            }
        });
        again.start(5);
        ShowParamWindow(&rig.driver);
        QVERIFY(askedAgain);
        QVERIFY(modalAtLoad);
        QVERIFY(passWentOn);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toString(), QString::fromUtf8("Чтение параметров завершено"));
        QCOMPARE(g_reads.load(), 12);  // table 1 read once, whole
        QVERIFY(hooks.errors.isEmpty());
    }

    // A window hidden by its host rather than closed stops its pass when the
    // modal run returns.
    void ShowParamWindow_HiddenByTheHost_StopsThePassBeforeReturning() {
        HookRecorder hooks;
        sim::Station station(OneAddress());
        WindowRig rig;
        rig.farEnd = SimulatorFarEnd(station);
        rig.frm->RowHeightPause = 1;
        ParamFrm = rig.frm.get();
        QTimer hider;
        connect(&hider, &QTimer::timeout, this, [&] {
            if (rig.frm->isVisible() && g_reads.load() >= 2) {
                hider.stop();
                rig.frm->hide();
            }
        });
        hider.start(5);
        ShowParamWindow(&rig.driver);
        QVERIFY(!rig.frm->PassRunning());
        QCOMPARE(rig.inFlight.load(), 0);
        const int afterReturn = rig.requests.load();
        QTest::qWait(10 * kExchangeMs);
        QCOMPARE(rig.requests.load(), afterReturn);
    }
};

QTEST_MAIN(ClosingTest)
#include "ClosingTest.moc"
