#include "Lifecycle.h"

#include <cstdio>
#include <mutex>

namespace zarvik::zarvikd {

http::Logger MakeLogger() {
    return [](int priority, std::string_view message) {
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        std::fprintf(stderr, "<%d>%.*s\n", priority, static_cast<int>(message.size()), message.data());
        std::fflush(stderr);
    };
}

void NotifyReady(const std::string&) {}
void NotifyWatchdog() {}
void NotifyStopping() {}

}  // namespace zarvik::zarvikd
