// The smallest honest port service, for the exchange benchmark and the reply
// fuzzer: one line, every transfer answered with the bytes the caller set,
// judged by the line's checker as a real service would judge them. It
// records nothing and allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zarvik/port_manager.h"

namespace zarvik::testing {

class LoopbackPort : public TPortManager {
public:
    // Every transfer writes min(size, expected length) of these bytes (the
    // caller keeps them) into the reply buffer and reports
    // min(reported, written) bytes received to the checker.
    void Answer(const std::uint8_t* bytes, std::size_t size, std::size_t reported) {
        reply_ = bytes;
        size_ = size;
        reported_ = reported;
    }
    void Answer(const std::uint8_t* bytes, std::size_t size) { Answer(bytes, size, size); }

    // What the checker stored (or the test put back).
    std::uint8_t state = kLineStateGood;
    std::int32_t error = kReplyOk;

    std::int32_t GetLineError(std::uint8_t) override { return error; }
    void SetLineError(std::uint8_t, std::int32_t code) override { error = code; }
    void SetLineState(std::uint8_t, std::uint8_t value) override { state = value; }
    std::uint8_t GetLineState(std::uint8_t) override { return state; }
    void SetReplyChecker(std::uint8_t, TReplyChecker checker) override { checker_ = checker; }
    void SetOpenHandler(std::int32_t, TOpenHandler) override {}
    std::int32_t OpenLine(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {
        return 0;
    }
    std::int32_t WaitTransfer(const TTransferHandle&) override { return 0; }
    TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t, const std::uint8_t*, std::uint8_t,
                                  std::uint8_t* reply, std::uint8_t expected, std::int32_t, std::int32_t) override;

private:
    const std::uint8_t* reply_ = nullptr;
    std::size_t size_ = 0;
    std::size_t reported_ = 0;
    TReplyChecker checker_;
};

}  // namespace zarvik::testing
