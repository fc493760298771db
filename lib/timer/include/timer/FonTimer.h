// A timer whose ticks never run their handler inside the tick.
//
// `ThreadType` selects where `OnTimer(sender)` runs:
//   ttHead  the tick only sets the worker's TickPending; the worker (running
//           from construction) polls every 10 ms and runs the handler on the
//           timer's own (GUI) thread while it waits. A handler that throws
//           ends the worker: that timer never calls its handler again.
//   ttFon   each tick starts a new thread (16384-byte stack requested; the
//           smallest larger size accepted only where that is refused; 24 KiB
//           under AddressSanitizer, whose frames are larger) that calls the handler
//           once. Ticks do not wait for it; calls may overlap. A handler's
//           exception ends its thread and is otherwise ignored.
// The handler is called only if assigned at the time of the call, with the
// timer as sender. `SetEnabled`/`SetInterval` may be called from any thread
// (a ttFon handler disables its timer first); a disabled timer starts nothing
// from the moment `SetEnabled(false)` returns.
//
// `Shutdown` (on the timer's thread) disables the timer, stops and joins the
// worker, discards a pending tick and waits for running ttFon threads,
// delivering queued calls meanwhile so that a handler waiting for the GUI
// thread can finish. The destructor does the same; an owner whose handler
// calls back into it should call `Shutdown` in its own destructor body, while
// its members still live. A refused ttFon thread is retried 10 ms later
// (refused ticks merge), never dropped.
#pragma once

#include <QThread>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace zarvik::timer {

enum class TThreadType : uint8_t { ttHead = 0, ttFon = 1 };
inline constexpr TThreadType ttHead = TThreadType::ttHead;
inline constexpr TThreadType ttFon = TThreadType::ttFon;

class TFonTimer;
using TFonTimerEvent = std::function<void(TFonTimer* sender)>;

// The stack requested for a ttFon tick thread.
inline constexpr std::size_t kTickThreadStack = 16384;

// The worker of a ttHead timer: runs from construction, polls TickPending
// every 10 ms. Its loop ends on Stop() or when a handler fails.
class TFonThread {
public:
    explicit TFonThread(TFonTimer* owner);
    ~TFonThread();  // Stop() and Wait()

    TFonThread(const TFonThread&) = delete;
    TFonThread& operator=(const TFonThread&) = delete;

    TFonTimer* Owner() const { return owner_; }
    std::atomic<bool> TickPending{false};

    // Ends the loop and cancels a call waiting for the GUI thread (the
    // handler is then not run). Returns at once.
    void Stop();
    // Joins the thread; call on the timer's thread.
    void Wait();
    // False once the loop has ended.
    bool IsRunning() const { return running_.load(); }
    // Runs the call the worker waits for, if any; on the owner's thread.
    void RunPendingCall();

private:
    struct PendingCall;
    void Run();
    bool RunOnOwnerThread();

    TFonTimer* owner_;
    QThread* ownerThread_;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::shared_ptr<PendingCall> current_;
    std::thread thread_;  // last: starts once everything above exists
};

class TFonTimer : public QTimer {
    Q_OBJECT

public:
    explicit TFonTimer(QObject* parent = nullptr);
    ~TFonTimer() override;

    // Enabled defaults to false, Interval to 1000 ms.
    bool Enabled() const { return enabled_.load(); }
    void SetEnabled(bool enabled);
    int Interval() const { return interval_.load(); }
    void SetInterval(int milliseconds);

    TThreadType ThreadType() const { return threadType_.load(); }
    void SetThreadType(TThreadType type) { threadType_.store(type); }

    // Set and read on the timer's thread.
    const TFonTimerEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TFonTimerEvent handler) { onTimer_ = std::move(handler); }

    TFonThread* Worker() const { return worker_.get(); }
    void Shutdown();

    // ttFon threads started and not yet finished.
    int RunningTickThreads() const;
    // Stack size requested for the last ttFon thread started (0 before the
    // first, or when only the platform's default size was accepted).
    std::size_t LastTickStack() const { return lastTickStack_.load(); }

private:
    struct TickThreads;
    void Tick();
    void StartTickThread();
    // Queued by name from other threads: the hand-over then goes through
    // state guarded by our own mutexes, never through captured data.
    Q_INVOKABLE void ApplyTimerState();
    Q_INVOKABLE void RunWorkerCall();

    std::atomic<TThreadType> threadType_{ttHead};
    std::atomic<bool> enabled_{false};
    std::atomic<int> interval_{1000};
    std::atomic<bool> destroying_{false};
    bool tickDeferred_ = false;
    std::atomic<std::size_t> lastTickStack_{0};
    TFonTimerEvent onTimer_;
    std::unique_ptr<TFonThread> worker_;
    std::shared_ptr<TickThreads> ticks_;
};

}  // namespace zarvik::timer
