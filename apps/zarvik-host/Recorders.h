// The files the host writes beside a command (--capture, --log), made
// before it runs and outliving every session, so a crash or Ctrl-C leaves
// the records so far readable. A capture or log that lost records turns
// success into exit code 4.
#pragma once

#include <memory>

#include "Cli.h"
#include "capture/CaptureWriter.h"

namespace zarvik::host {

class Recorders {
public:
    // Opens the files asked for and hands them to cli.session. Throws
    // HostError (configuration) when one cannot be made.
    explicit Recorders(Cli& cli);
    ~Recorders();

    // The command's exit code, or 4 when it succeeded but a record was lost
    // (said on stderr).
    int Finish(int code) const;

private:
    std::unique_ptr<capture::CaptureWriter> capture_;
    std::unique_ptr<ExchangeLog> log_;
};

// A signal that came while the command ran: the command finished the
// exchange in flight, and what it printed says what was done (exit code 5).
int AfterInterrupt(int code);

}  // namespace zarvik::host
