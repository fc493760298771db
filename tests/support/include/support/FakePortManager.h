// A scripted port service for tests.
//
// Records every call with its arguments (unless `record` is off), answers
// transfers from a script of replies and, when the script is empty, from a
// responder (the in-process fake dispenser). A script entry can raise in
// StartTransfer or WaitTransfer, make WaitTransfer return a failure code,
// skip the checker, or deliver any bytes at all.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "zarvik/port_manager.h"

namespace zarvik::testing {

struct PortCall {
    std::string name;
    std::vector<std::int64_t> args;
    std::vector<std::uint8_t> frame;  // StartTransfer only
};

struct ScriptedReply {
    std::vector<std::uint8_t> bytes;
    bool throwInStart = false;
    bool throwInWait = false;
    bool throwInGetLineState = false;
    bool skipChecker = false;
    std::int32_t waitCode = 0;
    bool raiseRecordsNoError = false;  // a raise above leaves the line error as it was
};

inline constexpr std::int32_t kFakeTransportError = 7001;

class FakePortManager : public TPortManager {
public:
    // Writes the reply to `frame` into reply (room for capacity bytes) and
    // returns its length; 0 means no reply.
    using Responder = std::function<std::size_t(const std::uint8_t* frame, std::size_t length, std::uint8_t* reply,
                                                std::size_t capacity)>;

    bool record = true;
    std::vector<PortCall> calls;
    std::deque<ScriptedReply> script;
    Responder responder;
    std::int32_t openResult = 0;
    bool throwInSetReplyChecker = false;

    std::uint8_t state[256] = {};
    std::int32_t error[256] = {};
    TReplyChecker checker[256] = {};
    TOpenHandler openHandler[256] = {};

    std::int32_t GetLineError(std::uint8_t line) override;
    void SetLineError(std::uint8_t line, std::int32_t code) override;
    void SetLineState(std::uint8_t line, std::uint8_t value) override;
    std::uint8_t GetLineState(std::uint8_t line) override;
    void SetReplyChecker(std::uint8_t line, TReplyChecker c) override;
    void SetOpenHandler(std::int32_t line, TOpenHandler handler) override;
    std::int32_t OpenLine(std::int32_t line, std::int32_t mode, std::int32_t baud, std::int32_t flags,
                          std::int32_t retries, std::int32_t reserved) override;
    std::int32_t WaitTransfer(const TTransferHandle& handle) override;
    TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t line2, const std::uint8_t* frame,
                                  std::uint8_t frameLength, std::uint8_t* reply, std::uint8_t expectedLength,
                                  std::int32_t mode, std::int32_t reserved) override;

    // Names of the recorded calls, in order.
    std::vector<std::string> CallNames() const;
    // Request frames of the recorded transfers, in order.
    std::vector<std::vector<std::uint8_t>> Frames() const;
    void Push(std::vector<std::uint8_t> bytes) { script.push_back(ScriptedReply{std::move(bytes)}); }

private:
    void Record(const char* name, std::initializer_list<std::int64_t> args, const std::uint8_t* frame = nullptr,
                std::size_t frameLength = 0);
    ScriptedReply pending_;
    bool pendingThrowInGetLineState_ = false;
};

// A well-formed reply frame: 02, sequence, address, LEN, data..., XOR.
std::vector<std::uint8_t> Frame(std::uint8_t address, const std::vector<std::uint8_t>& data, std::uint8_t sequence = 0);

// "02 00 01" style hex, for failure messages.
std::string Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace zarvik::testing
