#include "systemd/Journal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "hostkit/VisibleText.h"

namespace zarvik::systemd {

namespace {

// Set by systemd for a service whose stderr is connected to the journal.
constexpr const char* kJournalStream = "JOURNAL_STREAM";
constexpr const char* kWords[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};

}  // namespace

bool StderrIsJournal() {
    const char* stream = std::getenv(kJournalStream);
    if (stream == nullptr) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat st {};
    if (fstat(2, &st) != 0) return false;
    return st.st_dev == device && st.st_ino == inode;
}

Journal::Journal(std::ostream& out, bool journalPrefixes) : out_(out), prefixes_(journalPrefixes) {}

void Journal::Log(int priority, std::string_view message) {
    priority = std::clamp(priority, int{kEmerg}, int{kDebug});
    // A library's message may end its own line (libmicrohttpd's do).
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.remove_suffix(1);
    std::string line = prefixes_ ? "<" + std::to_string(priority) + ">" : std::string(kWords[priority]) + ": ";
    line += host::VisibleText(message);
    line += '\n';
    std::lock_guard lock(mutex_);
    out_ << line << std::flush;
}

std::function<void(int, std::string_view)> Journal::Logger() {
    return [this](int priority, std::string_view message) { Log(priority, message); };
}

}  // namespace zarvik::systemd
