// TGuiHandOver: runs a piece of work on its owner's (GUI) thread and waits
// for it. Tasks wait in a queue guarded by a standard mutex; an eventfd read
// by a socket notifier on the owner's thread wakes it, so nothing but the
// queue is shared between the threads. Cancel() makes every waiting and later
// Run() from another thread give up with TCancelled, without running its work,
// until Resume().
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

class QSocketNotifier;

namespace zarvik {

struct TCancelled {};

class TGuiHandOver : public QObject {
public:
    explicit TGuiHandOver(QObject* owner);
    ~TGuiHandOver() override;

    // On the owner's thread the work runs at once. From another thread it is
    // queued and run by the owner's thread; an exception of the work is
    // raised again here. Throws TCancelled once cancelled.
    void Run(const std::function<void()>& work);
    void Cancel();
    // Takes work again after Cancel(); call once no thread waits in Run().
    void Resume();
    // Runs queued work now (owner's thread only).
    void Drain();

private:
    struct Task {
        const std::function<void()>* work = nullptr;
        bool taken = false;  // the owner's thread runs it
        bool done = false;
        std::exception_ptr error;
    };
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<Task*> queue_;
    bool cancelled_ = false;
};

}  // namespace zarvik
