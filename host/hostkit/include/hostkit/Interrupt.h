// Ctrl-C, SIGTERM and SIGHUP while a command runs. The signal only marks
// the run as interrupted: the exchange in flight completes (the port service
// retries its waits), and a command that runs many exchanges checks
// InterruptSignal() between them, stops there, prints what it did and how to
// undo it, and exits with kExitInterrupted. SIGPIPE is ignored: a closed
// output fails its writes instead of killing the host in the middle of a
// change, and the command finishes what it started.
#pragma once

#include <string>

namespace zarvik::host {

// Installs the handlers (a signal already ignored stays ignored, as under
// nohup); call once, before the first exchange.
void CatchInterrupts();
// The signal that interrupted the run; 0 while none came.
int InterruptSignal();
// Forgets a signal that a command took as its normal end (watch).
void ClearInterrupt();
// "SIGINT", "SIGTERM", "SIGHUP" (or "signal N").
std::string SignalName(int signal);

}  // namespace zarvik::host
