#include "port/SerialPortManager.h"

#include <cstring>
#include <mutex>

#include "LineExchange.h"
#include "PortLine.h"
#include "port/PortErrors.h"

namespace zarvik::port {
namespace {

// What the transfer handle carries from StartTransfer to WaitTransfer.
struct HandleContent {
    std::uint32_t magic;
    std::int32_t line;
    std::int32_t code;
};
static_assert(sizeof(HandleContent) <= sizeof(TTransferHandle));
constexpr std::uint32_t kHandleMagic = 0x5A505254;

TTransferHandle Pack(std::int32_t line, std::int32_t code) {
    TTransferHandle h{};
    const HandleContent c{kHandleMagic, line, code};
    std::memcpy(h.Bytes, &c, sizeof c);
    return h;
}

}  // namespace

const char* ReplyMatchingName(ReplyMatching matching) {
    return matching == ReplyMatching::Lenient ? "lenient" : "strict";
}

const char* LocalEchoName(LocalEcho echo) {
    return echo == LocalEcho::On ? "on" : echo == LocalEcho::Off ? "off" : "auto";
}

SerialPortManager::SerialPortManager(DeviceFactory factory) {
    for (int i = 0; i < kLines; ++i) lines_[i] = std::make_unique<PortLine>(i + 1, factory());
}

SerialPortManager::~SerialPortManager() {
    for (auto& l : lines_) l->Close();
}

PortLine* SerialPortManager::Find(std::int32_t line) const {
    if (line < 1 || line > kLines) return nullptr;
    return lines_[line - 1].get();
}

bool SerialPortManager::SetDevice(std::int32_t line, const std::string& path) {
    PortLine* l = Find(line);
    if (l == nullptr) return false;
    std::lock_guard exchangeLock(l->exchange);
    l->pacer.Reset();  // a new path is tried at once
    std::lock_guard lock(l->config);
    l->path = path;
    return true;
}

void SerialPortManager::SetSettings(std::int32_t line, const LineSettings& settings) {
    if (PortLine* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->settings = settings;
    }
}

void SerialPortManager::SetSettingsAll(const LineSettings& settings) {
    for (int line = 1; line <= kLines; ++line) SetSettings(line, settings);
}

void SerialPortManager::SetTraceHook(FrameTraceHook hook) { trace_ = std::move(hook); }

void SerialPortManager::SetExchangeHook(ExchangeHook hook) { exchangeHook_ = std::move(hook); }

void SerialPortManager::SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

LineStatistics SerialPortManager::Statistics(std::int32_t line) const {
    const PortLine* l = Find(line);
    if (l == nullptr) return {};
    std::lock_guard lock(l->config);
    return l->stats.Snapshot();
}

DeviceFault SerialPortManager::LineFault(std::int32_t line) const {
    const PortLine* l = Find(line);
    if (l == nullptr) return {};
    std::lock_guard lock(l->config);
    return l->fault;
}

bool SerialPortManager::IsOpen(std::int32_t line) const {
    const PortLine* l = Find(line);
    return l != nullptr && l->open.load();
}

void SerialPortManager::CloseLine(std::int32_t line) {
    if (PortLine* l = Find(line)) {
        std::lock_guard lock(l->exchange);
        l->Close();
    }
}

std::int32_t SerialPortManager::GetLineError(std::uint8_t line) {
    const PortLine* l = Find(line);
    return l == nullptr ? kErrorNoSuchLine : l->error.load();
}

void SerialPortManager::SetLineError(std::uint8_t line, std::int32_t code) {
    if (PortLine* l = Find(line)) l->error.store(code);
}

void SerialPortManager::SetLineState(std::uint8_t line, std::uint8_t state) {
    if (PortLine* l = Find(line)) l->state.store(state);
}

std::uint8_t SerialPortManager::GetLineState(std::uint8_t line) {
    const PortLine* l = Find(line);
    return l == nullptr ? kLineStateBad : l->state.load();
}

void SerialPortManager::SetReplyChecker(std::uint8_t line, TReplyChecker checker) {
    if (PortLine* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->checker = checker;
    }
}

void SerialPortManager::SetOpenHandler(std::int32_t line, TOpenHandler handler) {
    if (PortLine* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->openHandler = handler;
    }
}

std::int32_t SerialPortManager::OpenLine(std::int32_t line, std::int32_t, std::int32_t baud, std::int32_t, std::int32_t,
                                         std::int32_t) {
    PortLine* l = Find(line);
    if (l == nullptr) return kErrorNoSuchLine;
    std::lock_guard exchangeLock(l->exchange);
    std::string path;
    std::int32_t rate = baud;
    {
        std::lock_guard lock(l->config);
        path = l->path;
        if (l->settings.baud > 0) rate = l->settings.baud;
    }
    if (path.empty()) return kErrorNoDevicePath;
    // A device that stays away is not hammered: the last error and its cause
    // stand until the next attempt is due.
    const Clock::time_point now = now_();
    if (!l->pacer.Due(now)) return kErrorNotOpen;
    l->Close();
    if (!l->device->Open(path, rate)) {
        l->pacer.Failed(now);
        l->SetFault(l->device->LastFault());
        return kErrorNotOpen;
    }
    l->pacer.Reset();
    l->settlePending = true;
    l->SetFault({});
    l->baud.store(rate);
    l->open.store(true);
    return 0;
}

std::int32_t SerialPortManager::WaitTransfer(const TTransferHandle& handle) {
    HandleContent c;
    std::memcpy(&c, handle.Bytes, sizeof c);
    if (c.magic != kHandleMagic) return kErrorNotOpen;
    return c.code;
}

TTransferHandle SerialPortManager::StartTransfer(std::uint8_t line, std::uint8_t, const std::uint8_t* frame,
                                                 std::uint8_t frameLength, std::uint8_t* reply,
                                                 std::uint8_t expectedLength, std::int32_t, std::int32_t) {
    PortLine* l = Find(line);
    if (l == nullptr) return Pack(line, kErrorNoSuchLine);
    std::lock_guard exchangeLock(l->exchange);
    LineExchange exchange(*l, trace_, now_());
    const std::int32_t code = exchange.Run(frame, frameLength, reply, expectedLength);
    if (exchangeHook_)
        exchangeHook_(
            ExchangeOutcome{std::chrono::system_clock::now(), l->number, code, l->state.load(), l->error.load()});
    return Pack(line, code);
}

}  // namespace zarvik::port
