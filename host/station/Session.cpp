#include "station/Session.h"

#include <iostream>
#include <stdexcept>

#include "exchangelog/ExchangeLog.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/HexText.h"
#include "hostkit/Platform.h"
#include "hostkit/VisibleText.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "protocol/Frame.h"
#include "station/Capture.h"

namespace zarvik::host {

const char* LineResultMeaning(std::uint8_t result) {
    switch (result) {
        case 1:
            return "good";
        case 3:
            return "bad reply or refused write";
        case 4:
            return "refused";
        case 10:
            return "start refused";
        case 14:
            return "stop refused";
        default:
            return "unknown";
    }
}

Session::Session(const SessionOptions& options)
    : port_(std::make_unique<port::SerialPortManager>(options.devices ? options.devices
                                                                      : port::DeviceFactory(port::MakeSystemDevice))),
      line_(options.line),
      device_(options.device),
      settings_(options.settings),
      log_(options.log) {
    if (line_ < 1 || line_ > port::SerialPortManager::kLines)
        throw UsageError("--line must be 1..32, got " + std::to_string(line_));
    port_->SetDevice(line_, device_);
    port_->SetSettings(line_, settings_);
    port_->SetTraceHook(
        [this, trace = options.trace, capture = options.capture, log = options.log](const port::FrameTraceEvent& e) {
            if (e.direction == port::FrameDirection::Sent && e.bytes.size() > protocol::kOffsetAddress)
                lastAddress_ = e.bytes[protocol::kOffsetAddress];
            if (capture != nullptr) RecordFrame(*capture, e);
            if (log != nullptr) log->Frame(e);
            if (trace) {
                const char* mark = e.direction == port::FrameDirection::Sent ? " > " : " < ";
                std::cerr << LocalTimeText(e.time, false) << mark << Hex(e.bytes.data(), e.bytes.size())
                          << (e.direction == port::FrameDirection::Discarded ? "  (discarded)" : "") << std::endl;
            }
            if (observer_) observer_(e);
        });
    if (options.log != nullptr)
        port_->SetExchangeHook([this, log = options.log](const port::ExchangeOutcome& o) {
            log->Outcome(o, DescribeOutcome(o, port_->LineFault(o.line).text));
        });
    try {
        library_.Load(options.library.empty() ? DefaultLibraryPath() : options.library);
    } catch (const std::exception& e) {
        throw ConfigError(e.what());
    }
    driver_ = library_.Create(options.options, port_.get());
    if (driver_ == nullptr) throw ConfigError("GetVM30 returned no driver object");
}

Session::~Session() {
    // The port service must not call into the driver once it is gone.
    port_->CloseLine(line_);
    delete driver_;
}

void Session::Open() {
    if (device_.empty()) throw UsageError("no device: give --port DEVICE or --station FILE");
    const std::int32_t result = slots::OpenPort(driver_, line_);
    if (log_ != nullptr)
        log_->Opened(line_, device_,
                     result == 0 ? std::string("good")
                                 : DescribeOutcome({std::chrono::system_clock::now(), line_, result, 3, result},
                                                   port_->LineFault(line_).text));
    if (result != 0) {
        const std::string cause = VisibleText(port_->LineFault(line_).text);
        throw ConfigError("cannot open " + device_ + (cause.empty() ? "" : ": " + cause) + " (error " +
                          std::to_string(result) + "; port service: \"" + port::DescribeLineError(result) + "\")");
    }
}

std::string Session::ExchangeFailure(const std::string& driverText) {
    const std::int32_t error = port_->GetLineError(static_cast<std::uint8_t>(line_));
    const std::string address =
        lastAddress_ < 0 ? std::string("the dispenser") : "address " + std::to_string(lastAddress_);
    std::string cause;
    if (error == port::kErrorTimeout) {
        cause = "no reply from " + address + " on " + device_ + " within " +
                std::to_string(settings_.response.count()) + " ms";
    } else if (error == port::kErrorDevice || error == port::kErrorNotOpen) {
        const std::string fault = VisibleText(port_->LineFault(line_).text);
        cause =
            (error == port::kErrorDevice ? "the device " + device_ + " failed" : "the line is not open on " + device_) +
            (fault.empty() ? "" : ": " + fault);
    } else {
        cause = "the exchange with " + address + " on " + device_ + " failed";
    }
    const std::string code = error != 0 ? "error " + std::to_string(error) + "; " : std::string();
    return cause + " (" + code + "driver: \"" + driverText + "\")";
}

std::string Session::FaultCause() const {
    // Another process's name may be in it ("busy: held by process 812 (...)").
    const std::string cause = VisibleText(port_->LineFault(line_).text);
    return cause.empty() ? cause : ": " + cause;
}

std::uint8_t Session::LineResult() { return slots::GetLineResult(driver_, line_); }

}  // namespace zarvik::host
