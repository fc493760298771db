#include "support/FakePortManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zarvik::testing {

// Takes an initializer list so that a service with recording off allocates nothing.
void FakePortManager::Record(const char* name, std::initializer_list<std::int64_t> args, const std::uint8_t* frame,
                             std::size_t frameLength) {
    if (!record) return;
    calls.push_back(
        PortCall{name, std::vector<std::int64_t>(args),
                 frame ? std::vector<std::uint8_t>(frame, frame + frameLength) : std::vector<std::uint8_t>{}});
}

std::int32_t FakePortManager::GetLineError(std::uint8_t line) {
    Record("GetLineError", {line});
    return error[line];
}
void FakePortManager::SetLineError(std::uint8_t line, std::int32_t code) {
    Record("SetLineError", {line, code});
    error[line] = code;
}
void FakePortManager::SetLineState(std::uint8_t line, std::uint8_t value) {
    Record("SetLineState", {line, value});
    state[line] = value;
}
std::uint8_t FakePortManager::GetLineState(std::uint8_t line) {
    Record("GetLineState", {line});
    if (pendingThrowInGetLineState_) {
        pendingThrowInGetLineState_ = false;
        error[line] = kFakeTransportError;
        throw std::runtime_error("GetLineState failed");
    }
    return state[line];
}
void FakePortManager::SetReplyChecker(std::uint8_t line, TReplyChecker c) {
    Record("SetReplyChecker", {line});
    if (throwInSetReplyChecker) throw std::runtime_error("SetReplyChecker failed");
    checker[line] = c;
}
void FakePortManager::SetOpenHandler(std::int32_t line, TOpenHandler handler) {
    Record("SetOpenHandler", {line});
    openHandler[line & 0xFF] = handler;
}
std::int32_t FakePortManager::OpenLine(std::int32_t line, std::int32_t mode, std::int32_t baud, std::int32_t flags,
                                       std::int32_t retries, std::int32_t reserved) {
    Record("OpenLine", {line, mode, baud, flags, retries, reserved});
    return openResult;
}

TTransferHandle FakePortManager::StartTransfer(std::uint8_t line, std::uint8_t line2, const std::uint8_t* frame,
                                               std::uint8_t frameLength, std::uint8_t* reply,
                                               std::uint8_t expectedLength, std::int32_t mode, std::int32_t reserved) {
    Record("StartTransfer", {line, line2, frameLength, expectedLength, mode, reserved}, frame, frameLength);

    std::size_t length = 0;
    ScriptedReply entry;
    if (!script.empty()) {
        entry = std::move(script.front());
        script.pop_front();
        if (entry.throwInStart) {
            if (!entry.raiseRecordsNoError) error[line] = kFakeTransportError;
            throw std::runtime_error("StartTransfer failed");
        }
        length = std::min<std::size_t>(entry.bytes.size(), expectedLength);
        if (length > 0) std::memcpy(reply, entry.bytes.data(), length);
    } else if (responder) {
        length = responder(frame, frameLength, reply, expectedLength);
    }

    if (!entry.skipChecker && checker[line]) {
        std::int32_t received = static_cast<std::int32_t>(length);
        checker[line](line, reply, received);
    }
    pending_ = ScriptedReply{};
    pending_.throwInWait = entry.throwInWait;
    pending_.raiseRecordsNoError = entry.raiseRecordsNoError;
    pending_.waitCode = entry.waitCode;
    pendingThrowInGetLineState_ = entry.throwInGetLineState;
    if (entry.waitCode != 0) error[line] = entry.waitCode;

    TTransferHandle handle{};
    handle.Bytes[0] = line;
    return handle;
}

std::int32_t FakePortManager::WaitTransfer(const TTransferHandle& handle) {
    Record("WaitTransfer", {handle.Bytes[0]});
    if (pending_.throwInWait) {
        if (!pending_.raiseRecordsNoError) error[handle.Bytes[0]] = kFakeTransportError;
        throw std::runtime_error("WaitTransfer failed");
    }
    return pending_.waitCode;
}

std::vector<std::string> FakePortManager::CallNames() const {
    std::vector<std::string> names;
    for (const auto& c : calls) names.push_back(c.name);
    return names;
}

std::vector<std::vector<std::uint8_t>> FakePortManager::Frames() const {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& c : calls)
        if (c.name == "StartTransfer") frames.push_back(c.frame);
    return frames;
}

std::vector<std::uint8_t> Frame(std::uint8_t address, const std::vector<std::uint8_t>& data, std::uint8_t sequence) {
    std::vector<std::uint8_t> f(data.size() + 4);
    f[0] = 0x02;
    f[1] = sequence;
    f[2] = address;
    f[3] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.begin() + 4);
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    return f;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

}  // namespace zarvik::testing
