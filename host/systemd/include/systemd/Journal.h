// Log lines for the journal. Under systemd (JOURNAL_STREAM names our
// stderr) each line goes to stderr with the sd-daemon priority prefix
// ("<3>cannot open /dev/ttyS0"), which journald stores as the entry's
// priority; elsewhere plain stderr with the level's word ("err: cannot
// open /dev/ttyS0"). A message is always one line: a line break that ends
// it is dropped, other control characters
// (line breaks included) and bytes that are not UTF-8 are written as \xNN,
// so text from a request or a dispenser cannot forge entries.
#pragma once

#include <functional>
#include <iosfwd>
#include <mutex>
#include <string_view>

namespace zarvik::systemd {

// syslog priorities, 0 (emerg) .. 7 (debug).
enum Priority : int { kEmerg, kAlert, kCrit, kErr, kWarning, kNotice, kInfo, kDebug };

// True when JOURNAL_STREAM holds the device and inode of our stderr.
bool StderrIsJournal();

class Journal {
public:
    explicit Journal(std::ostream& out, bool journalPrefixes = StderrIsJournal());
    // `priority` outside 0..7 is taken as the nearest one.
    void Log(int priority, std::string_view message);
    // Log as a function (the server's and the service's logger type).
    std::function<void(int, std::string_view)> Logger();

private:
    std::ostream& out_;
    bool prefixes_;
    std::mutex mutex_;
};

}  // namespace zarvik::systemd
