#include "ExchangeLog.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <map>
#include <mutex>
#include <vector>

#include "ExitCodes.h"
#include "Session.h"
#include "port/PortErrors.h"

namespace zarvik::host {
namespace {

const char* DirectionWord(port::FrameDirection direction) {
    switch (direction) {
        case port::FrameDirection::Sent:
            return "sent";
        case port::FrameDirection::Received:
            return "received";
        case port::FrameDirection::Discarded:
            break;
    }
    return "discarded";
}

}  // namespace

struct ExchangeLog::Impl {
    struct Pending {
        std::chrono::system_clock::time_point time;
        std::string text;  // "line 1 sent 02 80 ..."
    };
    std::shared_ptr<spdlog::logger> logger;
    std::mutex mutex;  // lines may exchange on several threads
    std::map<std::int32_t, std::vector<Pending>> pending;
    std::string error;
};

ExchangeLog::ExchangeLog(const std::string& path, std::size_t maxBytes, std::size_t files)
    : path_(path), impl_(std::make_unique<Impl>()) {
    try {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, maxBytes, files);
        impl_->logger = std::make_shared<spdlog::logger>("exchanges", std::move(sink));
    } catch (const spdlog::spdlog_ex& e) {
        throw ConfigError("cannot write the log " + path + ": " + e.what());
    }
    impl_->logger->set_pattern("%Y-%m-%d %H:%M:%S.%f %v");
    impl_->logger->flush_on(spdlog::level::info);  // a crash or Ctrl-C loses nothing written so far
    impl_->logger->set_error_handler([impl = impl_.get()](const std::string& message) {
        // Called with the mutex held: from inside Outcome.
        if (impl->error.empty()) impl->error = message;
    });
}

ExchangeLog::~ExchangeLog() = default;

void ExchangeLog::Frame(const port::FrameTraceEvent& event) {
    std::string text = "line " + std::to_string(event.line) + ' ' + DirectionWord(event.direction) + ' ' +
                       Hex(event.bytes.data(), event.bytes.size());
    std::lock_guard lock(impl_->mutex);
    impl_->pending[event.line].push_back({event.time, std::move(text)});
}

void ExchangeLog::Outcome(const port::ExchangeOutcome& outcome, const std::string& text) {
    std::lock_guard lock(impl_->mutex);
    auto frames = std::move(impl_->pending[outcome.line]);
    impl_->pending[outcome.line].clear();
    if (frames.empty()) frames.push_back({outcome.time, "line " + std::to_string(outcome.line) + " -"});
    for (const auto& f : frames)
        impl_->logger->log(f.time, spdlog::source_loc{}, spdlog::level::info, f.text + " [" + text + "]");
}

void ExchangeLog::Opened(std::int32_t line, const std::string& device, const std::string& outcome) {
    std::lock_guard lock(impl_->mutex);
    impl_->logger->info("line {} open {} [{}]", line, device, outcome);
}

std::string ExchangeLog::Error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->error;
}

std::string DescribeOutcome(const port::ExchangeOutcome& outcome, const std::string& cause) {
    if (outcome.code == 0 && outcome.state == kLineStateGood) return "good";
    const std::int32_t code = outcome.code != 0 ? outcome.code : outcome.error;
    std::string text = outcome.code == 0                     ? "bad reply: "
                       : outcome.code == port::kErrorTimeout ? "no reply: "
                                                             : "failed: ";
    text += std::string(port::DescribeLineError(code)) + " (" + std::to_string(code) + ")";
    if (!cause.empty() && (code == port::kErrorDevice || code == port::kErrorNotOpen)) text += ": " + cause;
    return text;
}

}  // namespace zarvik::host
