#include "timer/FonTimer.h"

#include <pthread.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <list>
#include <optional>

namespace zarvik::timer {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollPeriod = 10ms;
constexpr auto kShutdownWaitStep = 5ms;
constexpr int kRetryDelayMs = 10;
constexpr int kDefaultIntervalMs = 1000;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's redzones roughly double our frames: measured, 24 KiB
// gives a handler the room 16 KiB gives it in a normal build.
constexpr std::size_t kFirstStackRequest = 24 * 1024;
#else
constexpr std::size_t kFirstStackRequest = kTickThreadStack;
#endif
// A refused request (glibc places static TLS inside the thread's stack, so a
// process with much of it needs more) is raised a page at a time up to
// kFineStackLimit, then doubled up to kLargestStackRequest, then left to the
// platform's default. The size that was accepted is kept for later ticks.
constexpr std::size_t kStackPage = 4096;
constexpr std::size_t kFineStackLimit = 256 * 1024;
constexpr std::size_t kLargestStackRequest = 8 * 1024 * 1024;
std::atomic<std::size_t> acceptedStack{kFirstStackRequest};

bool OnThreadOf(const QObject* object) { return object->thread() == QThread::currentThread(); }

}  // namespace

// ---------------------------------------------------------------- worker

struct TFonThread::PendingCall {
    enum class State { Waiting, Running, Done, Cancelled };
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::Waiting;
    bool abandoned = false;  // the worker is being stopped; stop waiting
    bool failed = false;
};

TFonThread::TFonThread(TFonTimer* owner) : owner_(owner), ownerThread_(owner->thread()), thread_([this] { Run(); }) {}

TFonThread::~TFonThread() {
    Stop();
    Wait();
}

void TFonThread::Wait() {
    if (thread_.joinable()) thread_.join();
}

void TFonThread::Stop() {
    std::shared_ptr<PendingCall> call;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        call = current_;
    }
    wake_.notify_all();
    if (call) {
        {
            std::lock_guard lock(call->mutex);
            if (call->state == PendingCall::State::Waiting) call->state = PendingCall::State::Cancelled;
            call->abandoned = true;
        }
        call->changed.notify_all();
    }
}

void TFonThread::Run() {
    TickPending.store(false);
    for (;;) {
        if (TickPending.exchange(false) && !RunOnOwnerThread()) break;
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, kPollPeriod, [this] { return stopping_; })) break;
    }
    std::lock_guard lock(mutex_);
    current_.reset();
    running_.store(false);
}

// Runs the owner's handler on the owner's thread and waits for it. Returns
// false when the handler failed or the worker is being stopped.
bool TFonThread::RunOnOwnerThread() {
    TFonTimer* owner = owner_;
    if (QThread::currentThread() == ownerThread_) {  // never queue to ourselves: that would wait forever
        try {
            if (const TFonTimerEvent handler = owner->OnTimer()) handler(owner);
        } catch (...) {
            return false;
        }
        return true;
    }

    auto call = std::make_shared<PendingCall>();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        current_ = call;
    }
    QMetaObject::invokeMethod(owner, "RunWorkerCall", Qt::QueuedConnection);

    std::unique_lock lock(call->mutex);
    call->changed.wait(lock, [&] {
        return call->abandoned || call->state == PendingCall::State::Done ||
               call->state == PendingCall::State::Cancelled;
    });
    return call->state == PendingCall::State::Done && !call->failed && !call->abandoned;
}

void TFonThread::RunPendingCall() {
    std::shared_ptr<PendingCall> call;
    {
        std::lock_guard lock(mutex_);
        call = current_;
    }
    if (!call) return;
    {
        std::lock_guard lock(call->mutex);
        if (call->state != PendingCall::State::Waiting) return;
        call->state = PendingCall::State::Running;
    }
    bool failed = false;
    try {
        // A copy: the handler may destroy its timer, and with it this worker.
        if (const TFonTimerEvent handler = owner_->OnTimer()) handler(owner_);
    } catch (...) {
        failed = true;
    }
    {
        std::lock_guard lock(call->mutex);
        call->failed = failed;
        call->state = PendingCall::State::Done;
    }
    call->changed.notify_all();
}

// ---------------------------------------------------------------- tick threads

namespace {

struct TickThread {
    pthread_t id{};
    TFonTimer* sender = nullptr;
    TFonTimerEvent handler;
    std::mutex* mutex = nullptr;
    std::condition_variable* finishedSignal = nullptr;
    int* running = nullptr;
    bool finished = false;  // guarded by *mutex
};

extern "C" void* TickThreadMain(void* argument) {
    auto* thread = static_cast<TickThread*>(argument);
    try {
        if (thread->handler) thread->handler(thread->sender);
    } catch (...) {
        // An escaping failure would end the process; the tick simply ends.
    }
    {
        std::lock_guard lock(*thread->mutex);
        thread->finished = true;
        --*thread->running;
    }
    thread->finishedSignal->notify_all();
    return nullptr;
}

int StartWithExactStack(TickThread& thread, std::size_t size) {
    pthread_attr_t attributes;
    int rc = pthread_attr_init(&attributes);
    if (rc != 0) return rc;
    rc = pthread_attr_setstacksize(&attributes, size);
    if (rc == 0) rc = pthread_create(&thread.id, &attributes, TickThreadMain, &thread);
    pthread_attr_destroy(&attributes);
    return rc;
}

// Starts the thread with the smallest stack from the accepted size up that
// the platform takes; returns the size used (0: the platform's default), or
// nullopt when no thread could start at all.
std::optional<std::size_t> StartWithStack(TickThread& thread) {
    for (std::size_t size = acceptedStack.load(); size <= kLargestStackRequest;
         size += size < kFineStackLimit ? kStackPage : size) {
        const int rc = StartWithExactStack(thread, size);
        if (rc == 0) {
            acceptedStack.store(size);
            return size;
        }
        if (rc != EINVAL) return std::nullopt;  // out of threads or memory: not a matter of size
    }
    if (pthread_create(&thread.id, nullptr, TickThreadMain, &thread) == 0) return 0;
    return std::nullopt;
}

}  // namespace

struct TFonTimer::TickThreads {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    std::list<std::unique_ptr<TickThread>> threads;  // touched on the timer's thread only

    void JoinFinished() {
        for (auto it = threads.begin(); it != threads.end();) {
            bool done;
            {
                std::lock_guard lock(mutex);
                done = (*it)->finished;
            }
            if (done) {
                pthread_join((*it)->id, nullptr);
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
};

// ---------------------------------------------------------------- timer

TFonTimer::TFonTimer(QObject* parent) : QTimer(parent), ticks_(std::make_shared<TickThreads>()) {
    QTimer::setInterval(kDefaultIntervalMs);
    connect(this, &QTimer::timeout, this, [this] { Tick(); });
    worker_ = std::make_unique<TFonThread>(this);
}

TFonTimer::~TFonTimer() { Shutdown(); }

void TFonTimer::Shutdown() {
    destroying_.store(true);
    enabled_.store(false);
    QTimer::stop();
    worker_->TickPending.store(false);
    worker_->Stop();
    worker_->Wait();

    std::unique_lock lock(ticks_->mutex);
    while (ticks_->running > 0) {
        if (OnThreadOf(this)) {
            // A handler may be waiting for a queued call on this thread.
            lock.unlock();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
            lock.lock();
        }
        ticks_->finished.wait_for(lock, kShutdownWaitStep, [this] { return ticks_->running == 0; });
    }
    lock.unlock();
    ticks_->JoinFinished();
}

void TFonTimer::SetEnabled(bool enabled) {
    enabled_.store(enabled);
    if (OnThreadOf(this)) {
        ApplyTimerState();
    } else {
        QMetaObject::invokeMethod(this, "ApplyTimerState", Qt::QueuedConnection);
    }
}

void TFonTimer::SetInterval(int milliseconds) {
    interval_.store(milliseconds < 0 ? 0 : milliseconds);
    if (OnThreadOf(this)) {
        ApplyTimerState();
    } else {
        QMetaObject::invokeMethod(this, "ApplyTimerState", Qt::QueuedConnection);
    }
}

void TFonTimer::ApplyTimerState() {
    if (destroying_.load()) return;
    const int interval = interval_.load();
    // Interval 0 means no ticks, not a tick on every idle pass.
    if (!enabled_.load() || interval == 0) {
        QTimer::stop();
        return;
    }
    if (QTimer::interval() != interval) QTimer::setInterval(interval);
    if (!isActive()) QTimer::start();
}

void TFonTimer::RunWorkerCall() {
    if (worker_) worker_->RunPendingCall();
}

int TFonTimer::RunningTickThreads() const {
    std::lock_guard lock(ticks_->mutex);
    return ticks_->running;
}

void TFonTimer::Tick() {
    if (!enabled_.load() || destroying_.load()) return;
    switch (threadType_.load()) {
        case ttHead:
            worker_->TickPending.store(true);
            break;
        case ttFon:
            StartTickThread();
            break;
    }
}

void TFonTimer::StartTickThread() {
    ticks_->JoinFinished();
    auto thread = std::make_unique<TickThread>();
    thread->sender = this;
    thread->handler = onTimer_;
    thread->mutex = &ticks_->mutex;
    thread->finishedSignal = &ticks_->finished;
    thread->running = &ticks_->running;
    {
        std::lock_guard lock(ticks_->mutex);
        ++ticks_->running;
    }
    const std::optional<std::size_t> stack = StartWithStack(*thread);
    if (!stack) {
        {
            std::lock_guard lock(ticks_->mutex);
            --ticks_->running;
        }
        // No thread now: take the tick again shortly rather than lose it.
        if (!tickDeferred_) {
            tickDeferred_ = true;
            QTimer::singleShot(kRetryDelayMs, this, [this] {
                tickDeferred_ = false;
                if (enabled_.load() && !destroying_.load() && threadType_.load() == ttFon) StartTickThread();
            });
        }
        return;
    }
    lastTickStack_.store(*stack);
    ticks_->threads.push_back(std::move(thread));
}

}  // namespace zarvik::timer
