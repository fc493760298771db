#include "ui/ParamFrameHandOver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>
#include <cstdint>

namespace zarvik {

TGuiHandOver::TGuiHandOver(QObject* owner) : QObject(owner) {
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
}

TGuiHandOver::~TGuiHandOver() {
    Cancel();
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

void TGuiHandOver::Run(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    Task task;
    task.work = &work;
    std::unique_lock lock(mutex_);
    if (cancelled_ || fd_ < 0) throw TCancelled{};
    queue_.push_back(&task);
    const std::uint64_t one = 1;
    // A full counter still wakes the reader; nothing to do on failure.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
    finished_.wait(lock, [&] { return task.done || (cancelled_ && !task.taken); });
    if (!task.done) {
        std::erase(queue_, &task);
        throw TCancelled{};
    }
    if (task.error) std::rethrow_exception(task.error);
}

void TGuiHandOver::Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    finished_.notify_all();
}

void TGuiHandOver::Resume() {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
}

void TGuiHandOver::Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
    for (;;) {
        Task* task = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || cancelled_) return;
            task = queue_.front();
            queue_.pop_front();
            task->taken = true;
        }
        std::exception_ptr error;
        try {
            (*task->work)();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        task->error = error;
        task->done = true;
        finished_.notify_all();
    }
}

}  // namespace zarvik
