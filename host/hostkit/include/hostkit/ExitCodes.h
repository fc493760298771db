// The exit codes of zarvik-host, one meaning each, for scripts: the enum
// gives each in short, kExitCodesHelp below is the table --help prints (the
// README has the same).
//
// A failure a command cannot express through its return value is thrown as
// HostError with its code; ExitCodeOf() gives the code of any exception.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "zarvik/exceptions.h"

namespace zarvik::host {

enum ExitCode : int {
    kExitOk = 0,
    kExitExchangeFailed = 1,    // ESerialIO: no reply, a device error
    kExitUsage = 2,             // the parser's errors, and an argument the driver refuses before sending
    kExitNotGood = 3,           // answered, but not good: a bad reply, a refusal (line result other than 1)
    kExitConfig = 4,            // a station file, the driver library, a device, a capture or log file
    kExitInterrupted = 5,       // SIGINT, SIGTERM, SIGHUP: the exchange in flight was finished first
    kExitRecordIncomplete = 6,  // carried out and good, but its log or capture lost a record
};

// The text of --help's epilogue (the README has the same table).
inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the exchange failed (no reply, device error)\n"
    "  2  usage error\n"
    "  3  the dispenser answered but the result is not good (bad reply; refused command:\n"
    "     line result other than 1)\n"
    "  4  configuration or port error (station file, driver library, a device that cannot be opened,\n"
    "     a capture or log file that cannot be written)\n"
    "  5  interrupted (SIGINT, SIGTERM, SIGHUP): the exchange in flight was finished; what was done and\n"
    "     how to undo it is printed\n"
    "  6  done, but the record is incomplete (the command was carried out, its log or capture lost a record)";

class HostError : public std::runtime_error {
public:
    HostError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode Code() const { return code_; }

private:
    ExitCode code_;
};

inline HostError UsageError(const std::string& message) { return HostError(kExitUsage, message); }
inline HostError ConfigError(const std::string& message) { return HostError(kExitConfig, message); }

// The exit code for an error that ended a command: its own for a HostError,
// 1 for a failed exchange, 2 for an argument the driver refused (nothing
// was sent), 1 for anything else.
inline ExitCode ExitCodeOf(const std::exception& e) {
    if (const auto* host = dynamic_cast<const HostError*>(&e)) return host->Code();
    if (dynamic_cast<const ESerialIO*>(&e) != nullptr) return kExitExchangeFailed;
    if (dynamic_cast<const Exception*>(&e) != nullptr) return kExitUsage;
    return kExitExchangeFailed;
}

// The more serious of two outcomes, for commands that run many exchanges:
// an interruption, a configuration or port error, then a failed exchange,
// then a result that is not good, then an incomplete record, then success.
inline ExitCode Worse(ExitCode a, ExitCode b) {
    const auto rank = [](ExitCode c) {
        switch (c) {
            case kExitInterrupted:
                return 6;
            case kExitConfig:
                return 5;
            case kExitUsage:
                return 4;
            case kExitExchangeFailed:
                return 3;
            case kExitNotGood:
                return 2;
            case kExitRecordIncomplete:
                return 1;
            case kExitOk:
                break;
        }
        return 0;
    };
    return rank(a) >= rank(b) ? a : b;
}

}  // namespace zarvik::host
