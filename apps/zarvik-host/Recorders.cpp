#include "Recorders.h"

#include <exception>
#include <iostream>

#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"
#include "station/Capture.h"

namespace zarvik::host {

Recorders::Recorders(Cli& cli) {
    if (!cli.capture.empty()) {
        try {
            capture_ = std::make_unique<capture::CaptureWriter>(
                cli.capture, cli.overwrite ? capture::CaptureWriter::Existing::kOverwrite
                                           : capture::CaptureWriter::Existing::kRefuse);
        } catch (const std::exception& e) {
            throw ConfigError(e.what());
        }
        cli.session.capture = capture_.get();
    }
    if (!cli.log.empty()) {
        log_ = std::make_unique<ExchangeLog>(cli.log, cli.logMegabytes * 1024 * 1024, cli.logFiles);
        cli.session.log = log_.get();
    }
}

Recorders::~Recorders() = default;

int Recorders::Finish(int code) const {
    bool whole = !capture_ || CheckCapture(*capture_, std::cerr);
    if (log_ && !log_->Error().empty()) {
        std::cerr << "zarvik-host: log " << log_->Path() << " is incomplete: " << log_->Error() << '\n';
        whole = false;
    }
    return whole || code != kExitOk ? code : kExitRecordIncomplete;
}

int AfterInterrupt(int code) {
    const int signal = InterruptSignal();
    if (signal == 0 || code == kExitInterrupted) return code;
    std::cerr << "zarvik-host: interrupted by " << SignalName(signal)
              << " after the command's last exchange; its output above says what was done\n";
    return kExitInterrupted;
}

}  // namespace zarvik::host
