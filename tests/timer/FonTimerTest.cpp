#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "timer/FonTimer.h"

using zarvik::timer::TFonTimer;
using zarvik::timer::TThreadType;

namespace {

constexpr int kPatience = 10000;  // ms; generous for sanitizer builds

// Counts the ticks of a timer as they happen on the GUI thread.
struct TickCounter {
    explicit TickCounter(TFonTimer& timer) {
        QObject::connect(&timer, &QTimer::timeout, &context, [this] { ++ticks; });
    }
    QObject context;
    int ticks = 0;
};

// Lets the event loop run until the timer has ticked once more.
void WaitForTick(TFonTimer& timer) {
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

// Something on the GUI thread that a tick thread waits for.
class GuiSide : public QObject {
    Q_OBJECT

public:
    std::atomic<bool> touched{false};
    Q_INVOKABLE void Touch() { touched = true; }
};

class FonTimerTest : public QObject {
    Q_OBJECT

private slots:
    void newTimer_IsHeadDisabledWithWorkerRunning() {
        TFonTimer timer;
        std::atomic<int> calls{0};
        timer.SetOnTimer([&](TFonTimer*) { ++calls; });
        QCOMPARE(timer.ThreadType(), TThreadType::ttHead);
        QCOMPARE(static_cast<int>(TThreadType::ttHead), 0);
        QCOMPARE(static_cast<int>(TThreadType::ttFon), 1);
        QVERIFY(timer.Worker()->IsRunning());
        QCOMPARE(timer.Worker()->Owner(), &timer);
        QVERIFY(!timer.Enabled());
        QCOMPARE(timer.Interval(), 1000);
        timer.SetInterval(5);
        QTest::qWait(100);
        QVERIFY(!timer.isActive());
        QCOMPARE(calls.load(), 0);
    }

    void head_RunsHandlerOnGuiThreadAfterTicks() {
        TFonTimer timer;
        TickCounter counter(timer);
        int calls = 0;
        bool offGui = false;
        bool beforeTick = false;
        TFonTimer* seenSender = nullptr;
        timer.SetOnTimer([&](TFonTimer* sender) {
            ++calls;
            offGui |= QThread::currentThread() != qApp->thread();
            beforeTick |= calls > counter.ticks;
            seenSender = sender;
        });
        timer.SetInterval(20);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 3, kPatience);
        QVERIFY(!offGui);
        QVERIFY(!beforeTick);
        QCOMPARE(seenSender, &timer);
    }

    void head_TicksDuringOneCallMergeIntoOne() {
        TFonTimer timer;
        TickCounter counter(timer);
        int calls = 0;
        int ticksDuringFirst = 0;
        timer.SetOnTimer([&](TFonTimer* sender) {
            ++calls;
            if (calls == 1) {
                // The worker waits for this call, so several ticks pile up.
                const int start = counter.ticks;
                while (counter.ticks < start + 4) QTest::qWait(2);
                ticksDuringFirst = counter.ticks - start;
            } else {
                sender->SetEnabled(false);
            }
        });
        timer.SetInterval(1);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 2, kPatience);
        QTest::qWait(100);
        QVERIFY(ticksDuringFirst >= 4);
        // One call for the ticks during the first; at most one more for ticks
        // that came while the second was on its way.
        QVERIFY2(calls <= 3, qPrintable(QString::number(calls)));
    }

    void head_NoHandler_TicksCallNothingAndWorkerSurvives() {
        TFonTimer timer;
        TickCounter counter(timer);
        timer.SetInterval(5);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(counter.ticks >= 5, kPatience);
        QTest::qWait(50);
        QVERIFY(timer.Worker()->IsRunning());
        int calls = 0;
        timer.SetOnTimer([&](TFonTimer*) { ++calls; });
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 1, kPatience);
    }

    void head_FailingHandlerIsNeverCalledAgain() {
        TFonTimer timer;
        TickCounter counter(timer);
        int calls = 0;
        timer.SetOnTimer([&](TFonTimer*) {
            ++calls;
            throw std::runtime_error("сбой");
        });
        timer.SetInterval(5);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(!timer.Worker()->IsRunning(), kPatience);
        const int ticks = counter.ticks;
        QTRY_VERIFY_WITH_TIMEOUT(counter.ticks >= ticks + 5, kPatience);
        QCOMPARE(calls, 1);
        QVERIFY(timer.Enabled());
    }

    void head_DestroyingWithPendingTickNeverCallsIt() {
        std::atomic<int> calls{0};
        auto* timer = new TFonTimer;
        timer->SetOnTimer([&](TFonTimer*) { ++calls; });
        timer->SetInterval(1);
        timer->SetEnabled(true);
        WaitForTick(*timer);
        // Without the event loop the call the worker posts stays undelivered.
        QThread::msleep(50);
        delete timer;
        QTest::qWait(50);
        QCOMPARE(calls.load(), 0);
    }

    void head_HandlerDestroyingItsTimerWithTickPending() {
        int calls = 0;
        QPointer<TFonTimer> timer = new TFonTimer;
        timer->SetOnTimer([&](TFonTimer* sender) {
            ++calls;
            WaitForTick(*sender);  // a tick now waits behind this call
            delete sender;
        });
        timer->SetInterval(1);
        timer->SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(timer.isNull(), kPatience);
        QTest::qWait(50);
        QCOMPARE(calls, 1);
    }

    void fon_RunsEachTickOnItsOwnThread() {
        TFonTimer timer;
        std::mutex mutex;
        std::condition_variable changed;
        int inside = 0;
        int mostInside = 0;
        int calls = 0;
        bool onGui = false;
        timer.SetThreadType(TThreadType::ttFon);
        timer.SetOnTimer([&](TFonTimer* sender) {
            std::unique_lock lock(mutex);
            ++calls;
            onGui |= QThread::currentThread() == qApp->thread() || sender != &timer;
            mostInside = std::max(mostInside, ++inside);
            changed.notify_all();
            // Two calls at once can only be two threads.
            changed.wait_for(lock, std::chrono::seconds(5), [&] { return mostInside >= 2; });
            --inside;
        });
        timer.SetInterval(5);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     std::lock_guard lock(mutex);
                                     return calls >= 3;
                                 }()),
                                 kPatience);
        timer.SetEnabled(false);
        timer.Shutdown();
        QCOMPARE(timer.RunningTickThreads(), 0);
        QVERIFY(!onGui);
        QVERIFY(mostInside >= 2);
#if !defined(__SANITIZE_ADDRESS__)
        QCOMPARE(timer.LastTickStack(), zarvik::timer::kTickThreadStack);
#else
        QVERIFY(timer.LastTickStack() >= zarvik::timer::kTickThreadStack);
#endif
    }

    void fon_HandlerMayDisableItsTimerAndFail() {
        TFonTimer timer;
        std::atomic<int> calls{0};
        timer.SetThreadType(TThreadType::ttFon);
        timer.SetOnTimer([&](TFonTimer* sender) {
            sender->SetEnabled(false);
            ++calls;
            throw std::runtime_error("сбой в потоке");
        });
        timer.SetInterval(5);
        timer.SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(calls.load() >= 1 && !timer.isActive(), kPatience);
        QTRY_COMPARE_WITH_TIMEOUT(timer.RunningTickThreads(), 0, kPatience);
        QVERIFY(!timer.Enabled());
        timer.SetEnabled(true);  // the failure ended only that thread
        const int before = calls.load();
        QTRY_VERIFY_WITH_TIMEOUT(calls.load() > before, kPatience);
    }

    void fon_DestructionWaitsForRunningThread() {
        std::mutex mutex;
        std::condition_variable changed;
        bool started = false;
        bool release = false;
        std::atomic<bool> finished{false};
        GuiSide gui;
        auto* timer = new TFonTimer;
        timer->SetThreadType(TThreadType::ttFon);
        timer->SetOnTimer([&](TFonTimer* sender) {
            sender->SetEnabled(false);
            {
                std::unique_lock lock(mutex);
                started = true;
                changed.notify_all();
                changed.wait(lock, [&] { return release; });
            }
            // Waits for the GUI thread, which is inside the destructor by now.
            QMetaObject::invokeMethod(&gui, "Touch", Qt::BlockingQueuedConnection);
            (void)sender->Interval();  // the sender must still be alive
            finished = true;
        });
        timer->SetInterval(5);
        timer->SetEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     std::lock_guard lock(mutex);
                                     return started;
                                 }()),
                                 kPatience);
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        changed.notify_all();
        delete timer;
        QVERIFY(finished.load());
        QVERIFY(gui.touched.load());
    }
};

QTEST_GUILESS_MAIN(FonTimerTest)
#include "FonTimerTest.moc"
