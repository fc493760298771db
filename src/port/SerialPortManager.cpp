#include "port/SerialPortManager.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "ReplyReader.h"
#include "Terminal.h"
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

// The longest frame LEN can announce.
constexpr std::size_t kMaxReply = 255 + 5;

TTransferHandle Pack(std::int32_t line, std::int32_t code) {
    TTransferHandle h{};
    const HandleContent c{kHandleMagic, line, code};
    std::memcpy(h.Bytes, &c, sizeof c);
    return h;
}

}  // namespace

struct SerialPortManager::Line {
    explicit Line(std::int32_t n) : number(n) {}

    const std::int32_t number;
    // Held for a whole exchange and for opening or closing; recursive so the
    // open handler may call OpenLine from inside an exchange.
    std::recursive_mutex exchange;
    // Guards the host's configuration, the registered callbacks and the
    // statistics; never held while waiting on the device.
    mutable std::mutex config;
    std::string path;
    LineSettings settings;
    TReplyChecker checker;
    TOpenHandler openHandler;
    LineStatisticsRecorder stats;

    std::atomic<int> fd{-1};
    std::atomic<std::int32_t> baud{9600};
    std::atomic<std::uint8_t> state{0};
    std::atomic<std::int32_t> error{0};
    // Set once a good reply carried the request's sequence number.
    std::atomic<bool> echoesSequence{false};
    // Per command code: how long after the send its reply is complete, from
    // the line's recent good replies (zero: not known yet). Used only under
    // the exchange lock.
    std::array<Clock::duration, 256> replyTime{};

    void Close() {
        const int old = fd.exchange(-1);
        if (old >= 0) CloseTerminal(old);
    }
};

SerialPortManager::SerialPortManager() {
    for (int i = 0; i < kLines; ++i) lines_[i] = std::make_unique<Line>(i + 1);
}

SerialPortManager::~SerialPortManager() {
    for (auto& l : lines_) l->Close();
}

SerialPortManager::Line* SerialPortManager::Find(std::int32_t line) const {
    if (line < 1 || line > kLines) return nullptr;
    return lines_[line - 1].get();
}

bool SerialPortManager::SetDevice(std::int32_t line, const std::string& path) {
    Line* l = Find(line);
    if (l == nullptr) return false;
    std::lock_guard lock(l->config);
    l->path = path;
    return true;
}

void SerialPortManager::SetSettings(std::int32_t line, const LineSettings& settings) {
    if (Line* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->settings = settings;
    }
}

void SerialPortManager::SetSettingsAll(const LineSettings& settings) {
    for (int line = 1; line <= kLines; ++line) SetSettings(line, settings);
}

void SerialPortManager::SetTraceHook(FrameTraceHook hook) { trace_ = std::move(hook); }

LineStatistics SerialPortManager::Statistics(std::int32_t line) const {
    const Line* l = Find(line);
    if (l == nullptr) return {};
    std::lock_guard lock(l->config);
    return l->stats.Snapshot();
}

bool SerialPortManager::IsOpen(std::int32_t line) const {
    const Line* l = Find(line);
    return l != nullptr && l->fd.load() >= 0;
}

void SerialPortManager::CloseLine(std::int32_t line) {
    if (Line* l = Find(line)) {
        std::lock_guard lock(l->exchange);
        l->Close();
    }
}

std::int32_t SerialPortManager::GetLineError(std::uint8_t line) {
    const Line* l = Find(line);
    return l == nullptr ? kErrorNoSuchLine : l->error.load();
}

void SerialPortManager::SetLineError(std::uint8_t line, std::int32_t code) {
    if (Line* l = Find(line)) l->error.store(code);
}

void SerialPortManager::SetLineState(std::uint8_t line, std::uint8_t state) {
    if (Line* l = Find(line)) l->state.store(state);
}

std::uint8_t SerialPortManager::GetLineState(std::uint8_t line) {
    const Line* l = Find(line);
    return l == nullptr ? kLineStateBad : l->state.load();
}

void SerialPortManager::SetReplyChecker(std::uint8_t line, TReplyChecker checker) {
    if (Line* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->checker = checker;
    }
}

void SerialPortManager::SetOpenHandler(std::int32_t line, TOpenHandler handler) {
    if (Line* l = Find(line)) {
        std::lock_guard lock(l->config);
        l->openHandler = handler;
    }
}

std::int32_t SerialPortManager::OpenLine(std::int32_t line, std::int32_t, std::int32_t baud, std::int32_t, std::int32_t,
                                         std::int32_t) {
    Line* l = Find(line);
    if (l == nullptr) return kErrorNoSuchLine;
    std::lock_guard exchangeLock(l->exchange);
    std::string path;
    {
        std::lock_guard lock(l->config);
        path = l->path;
    }
    if (path.empty()) return kErrorNoDevicePath;
    l->Close();
    const int fd = OpenRawTerminal(path, baud);
    if (fd < 0) return kErrorNotOpen;
    l->baud.store(baud > 0 ? baud : 9600);
    l->fd.store(fd);
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
    Line* l = Find(line);
    if (l == nullptr) return Pack(line, kErrorNoSuchLine);
    std::lock_guard exchangeLock(l->exchange);
    return Pack(line, Transfer(*l, frame, frameLength, reply, expectedLength));
}

void SerialPortManager::Trace(const Line& l, FrameDirection direction, const std::uint8_t* bytes,
                              std::size_t length) const {
    if (!trace_ || length == 0) return;
    trace_(FrameTraceEvent{std::chrono::system_clock::now(), l.number, direction, {bytes, length}});
}

void SerialPortManager::Fail(Line& l, std::int32_t error) {
    l.state.store(kLineStateBad);
    l.error.store(error);
    std::lock_guard lock(l.config);
    l.stats.Bad(error);
}

std::int32_t SerialPortManager::Transfer(Line& l, const std::uint8_t* frame, std::size_t frameLength,
                                         std::uint8_t* reply, std::size_t expectedLength) {
    LineSettings settings;
    TReplyChecker checker;
    TOpenHandler openHandler;
    {
        std::lock_guard lock(l.config);
        ++l.stats.counters.exchanges;
        settings = l.settings;
        checker = l.checker;
        openHandler = l.openHandler;
    }
    const auto countReopen = [&l] {
        std::lock_guard lock(l.config);
        ++l.stats.counters.reopens;
    };
    // A line that is closed (never opened, or lost after a device error whose
    // reopen failed) gets one more attempt through the host's open handler.
    if (l.fd.load() < 0 && openHandler) {
        openHandler(l.number);
        countReopen();
    }
    const int fd = l.fd.load();
    if (fd < 0) {
        Fail(l, kErrorNotOpen);
        return kErrorNotOpen;
    }
    const std::int32_t baud = l.baud.load();

    // counted: the exchange already went into the statistics as bad.
    const auto deviceFailure = [&](bool counted = false) {
        if (counted) {
            l.state.store(kLineStateBad);
            l.error.store(kErrorDevice);
        } else {
            Fail(l, kErrorDevice);
        }
        l.Close();
        if (openHandler) {
            openHandler(l.number);
            countReopen();
        }
        return kErrorDevice;
    };
    const auto discarded = [&](const std::uint8_t* bytes, std::size_t n) {
        Trace(l, FrameDirection::Discarded, bytes, n);
        std::lock_guard lock(l.config);
        l.stats.counters.bytesDiscarded += n;
    };

    // Whatever came in since the last exchange (late replies, line noise)
    // must not become part of this reply.
    const long stale = DiscardInput(fd);
    if (stale < 0) return deviceFailure();
    if (stale > 0) {
        std::lock_guard lock(l.config);
        l.stats.counters.bytesDiscarded += static_cast<std::uint64_t>(stale);
    }

    const auto requestWire = WireTime(frameLength, baud);
    Trace(l, FrameDirection::Sent, frame, frameLength);
    if (WriteAll(fd, frame, frameLength, Clock::now() + requestWire + settings.response) != IoStatus::Done)
        return deviceFailure();
    const Clock::time_point sentAt = Clock::now();
    {
        std::lock_guard lock(l.config);
        l.stats.counters.bytesSent += frameLength;
    }

    // The request is still on the wire when write returns: the response
    // deadline counts its wire time. The hard deadline bounds the whole
    // reply, whatever its LEN byte claims.
    // The reply is collected whole into a frame buffer of our own, also when
    // it is longer than the caller allows: a too-long reply is then judged
    // by the length it really had and none of it is left on the line.
    std::uint8_t received[kMaxReply];
    ReplyLimits limits;
    limits.firstByteDeadline = sentAt + requestWire + settings.response;
    limits.interByte = settings.interByte;
    limits.hardDeadline = limits.firstByteDeadline + WireTime(kMaxReply, baud) + settings.interByte;
    limits.baud = baud;
    constexpr std::size_t kCommandOffset = 4;
    const std::uint8_t command = frameLength > kCommandOffset ? frame[kCommandOffset] : 0;
    Clock::duration& replyTime = l.replyTime[command];
    // Only a reply that takes several byte times is worth a timed sleep (a
    // short sleep costs more than it saves where timers are coarse); the
    // margin of one byte time covers the jitter of a paced line.
    const Clock::duration byteTime = WireTime(1, baud);
    if (settings.predictReplies && replyTime >= 4 * byteTime) limits.expectedComplete = sentAt + replyTime + byteTime;
    constexpr std::size_t kSequenceOffset = 1;
    const std::uint8_t sequence = frameLength > kSequenceOffset ? frame[kSequenceOffset] : 0;
    const bool filterStale = settings.discardStaleReplies && l.echoesSequence.load();
    ReplyOutcome got;
    for (;;) {
        got = ReadReply(fd, received, kMaxReply, limits);
        {
            std::lock_guard lock(l.config);
            l.stats.counters.wakeups += got.wakeups;
            l.stats.counters.bytesReceived += got.length;
        }
        // A whole reply to an earlier request that came too late for it.
        if (filterStale && got.end == ReplyEnd::Complete && IsWholeFrame(received, got.length) &&
            received[kSequenceOffset] != sequence) {
            discarded(received, got.length);
            continue;
        }
        break;
    }
    const Clock::time_point doneAt = Clock::now();
    Trace(l, FrameDirection::Received, received, got.length);
    // The caller's buffer holds expectedLength bytes; the checker sees no more.
    const std::size_t delivered = std::min(got.length, expectedLength);
    std::copy(received, received + delivered, reply);

    unsigned drainWakeups = 0;
    const auto drain = [&] {
        const long n =
            DrainLateBytes(fd, settings.drainQuiet, Clock::now() + settings.response, drainWakeups, discarded);
        std::lock_guard lock(l.config);
        l.stats.counters.wakeups += drainWakeups;
        return n >= 0;
    };

    switch (got.end) {
        case ReplyEnd::DeviceError:
            return deviceFailure();
        case ReplyEnd::NoReply:
            Fail(l, kErrorTimeout);
            if (!drain()) return deviceFailure(true);
            return kErrorTimeout;
        case ReplyEnd::Complete:
        case ReplyEnd::Gap:
            break;
    }

    if (!checker) {
        Fail(l, kErrorNoChecker);
        return kErrorNoChecker;
    }
    std::int32_t length = static_cast<std::int32_t>(delivered);
    checker(static_cast<std::uint8_t>(l.number), reply, length);
    const bool good = l.state.load() == kLineStateGood && got.end == ReplyEnd::Complete && delivered == got.length;
    if (good) {
        if (delivered > kSequenceOffset && reply[kSequenceOffset] == sequence) l.echoesSequence.store(true);
        // A reply that was all there at the expected time may come sooner
        // next time: creep the estimate down a little. One that had to be
        // waited for tells the real time.
        if (got.asExpected)
            replyTime -= byteTime / 4;
        else
            replyTime = doneAt - sentAt;
        std::lock_guard lock(l.config);
        l.stats.Good(std::chrono::duration_cast<std::chrono::microseconds>(doneAt - sentAt));
        return 0;
    }
    if (l.state.load() == kLineStateGood) {
        // Judged good on fewer bytes than came: never hand that out as good.
        l.state.store(kLineStateBad);
        l.error.store(kReplyBadLength);
    }
    {
        std::lock_guard lock(l.config);
        l.stats.Bad(l.error.load());
    }
    // The rest of a malformed reply may still be arriving.
    if (!drain()) return deviceFailure(true);
    return 0;
}

}  // namespace zarvik::port
