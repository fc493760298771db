#include "exchangelog/ExchangeLog.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "hostkit/ExitCodes.h"
#include "hostkit/HexText.h"
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

// The log is appended to a regular file, created if its folder exists; a
// symbolic link is not followed and a FIFO is refused without waiting for a
// reader. Empty when it may be written, otherwise why not.
std::string CheckAppendable(const std::string& path) {
#if defined(_WIN32)
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return "not a regular file";
    if (!std::filesystem::is_directory(std::filesystem::absolute(path).parent_path(), error))
        return "its folder does not exist";
    return {};
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ELOOP) return "it is a symbolic link; it is not followed";
        if (errno == ENXIO) return "not a regular file (a FIFO or a device)";
        if (errno == ENOENT) return "its folder does not exist";
        return std::strerror(errno);
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular ? std::string() : "not a regular file (a FIFO, a device or a folder)";
#endif
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
    if (const std::string why = CheckAppendable(path); !why.empty())
        throw ConfigError("cannot write the log " + path + ": " + why);
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
