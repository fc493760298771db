#include "port/LoopbackDevice.h"

#include <cerrno>

namespace zarvik::port {
namespace {

constexpr char kGone[] = "hang-up: the device went away";

}  // namespace

bool LoopbackDevice::Gone() {
    if (!farEnd_->HungUp()) return false;
    fault_ = {EIO, kGone};
    return true;
}

bool LoopbackDevice::Open(const std::string&, std::int32_t baud) {
    Close();
    if (farEnd_->HungUp()) return Fault(ENODEV, "no such device");
    if (baud <= 0) return Fault(EINVAL, "unsupported baud rate " + std::to_string(baud));
    baud_ = baud;
    open_ = true;
    fault_ = {};
    return true;
}

void LoopbackDevice::Close() {
    open_ = false;
    incoming_.clear();
}

long LoopbackDevice::DiscardInput() {
    if (Gone()) return -1;
    const Clock::time_point now = Now();
    long discarded = 0;
    while (!incoming_.empty() && incoming_.front().at <= now) {
        incoming_.pop_front();
        ++discarded;
    }
    return discarded;
}

IoStatus LoopbackDevice::Write(const std::uint8_t* bytes, std::size_t length, Clock::time_point) {
    if (Gone()) return IoStatus::DeviceError;
    // The request is on the wire until its last byte has left.
    const Clock::time_point sent = Now() + (farEnd_->Pacing() ? WireTime(length, baud_) : Clock::duration{});
    const auto reply = farEnd_->Answer(bytes, length, sent);
    if (!reply) return IoStatus::Done;
    // A reply starts once the line is free of the previous one.
    Clock::time_point at = sent + reply->delay;
    if (!incoming_.empty() && incoming_.back().at > at) at = incoming_.back().at;
    const Clock::duration byteTime = farEnd_->Pacing() ? WireTime(1, baud_) : Clock::duration{};
    for (const std::uint8_t byte : reply->bytes) {
        at += byteTime;
        incoming_.push_back({byte, at});
    }
    return IoStatus::Done;
}

WaitResult LoopbackDevice::WaitReadable(Clock::time_point until) {
    if (Gone()) return WaitResult::DeviceError;
    if (!incoming_.empty() && incoming_.front().at <= until) {
        SleepUntil(incoming_.front().at);
        return Gone() ? WaitResult::DeviceError : WaitResult::Readable;
    }
    SleepUntil(until);
    return Gone() ? WaitResult::DeviceError : WaitResult::Timeout;
}

long LoopbackDevice::ReadAvailable(std::uint8_t* buffer, std::size_t capacity) {
    if (Gone()) return -1;
    const Clock::time_point now = Now();
    std::size_t got = 0;
    while (got < capacity && !incoming_.empty() && incoming_.front().at <= now) {
        buffer[got++] = incoming_.front().byte;
        incoming_.pop_front();
    }
    return static_cast<long>(got);
}

std::function<std::unique_ptr<SerialDevice>()> LoopbackDevices(std::shared_ptr<LoopbackFarEnd> farEnd) {
    return [farEnd] { return std::make_unique<LoopbackDevice>(farEnd); };
}

}  // namespace zarvik::port
