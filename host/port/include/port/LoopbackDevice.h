// A serial device whose far end is a function inside this process, for hosts
// and tests on machines without serial hardware or pseudo-terminals (the demo
// on Windows). Each write is one frame from the port service; the far end's
// responder answers it or stays silent, and the reply comes back as a
// dispenser on a wire would send it: after the reply's own delay, one byte
// every 10 bit times at the line's rate (or all at once when pacing is off).
// Bytes still on their way when the input is discarded keep coming, as on a
// wire.
//
// A far end may be shared by the devices of several lines (each device
// hears only the replies to its own writes). HangUp() makes it go away like
// an unplugged device: waits and reads fail, opens fail with "no such
// device". The responder runs on the thread that writes. Time comes from the
// far end (the steady clock, or a virtual one a test sets).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "PortExport.h"
#include "SerialDevice.h"

namespace zarvik::port {

struct LoopbackReply {
    std::vector<std::uint8_t> bytes;
    Clock::duration delay{};  // before the first byte leaves
};

class LoopbackFarEnd {
public:
    using Responder =
        std::function<std::optional<LoopbackReply>(const std::uint8_t* frame, std::size_t length, Clock::time_point)>;

    explicit LoopbackFarEnd(Responder responder, bool pacing = true)
        : responder_(std::move(responder)), pacing_(pacing) {}

    // Before any device uses it.
    void SetClock(std::function<Clock::time_point()> now, std::function<void(Clock::time_point)> sleepUntil) {
        now_ = std::move(now);
        sleepUntil_ = std::move(sleepUntil);
    }
    Clock::time_point Now() const { return now_(); }
    void SleepUntil(Clock::time_point t) const { sleepUntil_(t); }

    void HangUp() { hungUp_.store(true); }
    bool HungUp() const { return hungUp_.load(); }
    bool Pacing() const { return pacing_; }
    std::optional<LoopbackReply> Answer(const std::uint8_t* frame, std::size_t length, Clock::time_point now) const {
        return responder_(frame, length, now);
    }

private:
    Responder responder_;
    bool pacing_;
    std::atomic<bool> hungUp_{false};
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    std::function<void(Clock::time_point)> sleepUntil_ = [](Clock::time_point t) { std::this_thread::sleep_until(t); };
};

class ZARVIK_PORT_API LoopbackDevice final : public SerialDevice {
public:
    explicit LoopbackDevice(std::shared_ptr<LoopbackFarEnd> farEnd) : farEnd_(std::move(farEnd)) {}

    bool Open(const std::string& path, std::int32_t baud) override;
    bool IsOpen() const override { return open_; }
    void Close() override;
    long DiscardInput() override;
    IoStatus Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point deadline) override;
    WaitResult WaitReadable(Clock::time_point until) override;
    long ReadAvailable(std::uint8_t* buffer, std::size_t capacity) override;
    Clock::time_point Now() const override { return farEnd_->Now(); }
    void SleepUntil(Clock::time_point t) override { farEnd_->SleepUntil(t); }

private:
    struct Incoming {
        std::uint8_t byte;
        Clock::time_point at;  // when it has arrived
    };
    bool Gone();

    std::shared_ptr<LoopbackFarEnd> farEnd_;
    bool open_ = false;
    std::int32_t baud_ = 9600;
    std::deque<Incoming> incoming_;
};

// A factory for SerialPortManager: every line's device on the same far end.
ZARVIK_PORT_API std::function<std::unique_ptr<SerialDevice>()> LoopbackDevices(std::shared_ptr<LoopbackFarEnd> farEnd);

}  // namespace zarvik::port
