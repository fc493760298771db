// The host's port service as the driver sees it.
//
// The driver owns no serial port: it builds a frame, hands it to the service
// with StartTransfer, waits with WaitTransfer and reads the line's state that
// its own reply checker stored through SetLineState/SetLineError. Lines are
// the host's channel numbers 1..32. The service keeps one checker and one open
// handler per line, the latest registered.
#pragma once

#include <cstdint>

namespace zarvik {

// Opaque to the driver; the service fills it in StartTransfer and takes it
// back in WaitTransfer.
struct TTransferHandle {
    std::uint8_t Bytes[24];
};
static_assert(sizeof(TTransferHandle) == 24);

// The driver's reply checker, bound to the driver object (code + data, no
// allocation). Arguments after the data: line, reply bytes, an ignored value,
// the received length (only its low byte is read), another ignored value.
// Returns true for a good reply; stores state and error code in the service.
struct TReplyChecker {
    using Code = bool (*)(void* data, std::uint8_t line, const std::uint8_t* reply, std::int32_t ignored1,
                          std::int32_t& length, std::int32_t ignored2);
    Code code = nullptr;
    void* data = nullptr;

    explicit operator bool() const { return code != nullptr; }
    bool operator()(std::uint8_t line, const std::uint8_t* reply, std::int32_t& length) const {
        return code(data, line, reply, 0, length, 0);
    }
};

// The driver's per-line open handler: opens the line through OpenLine and
// returns its result. The service may call it whenever it must reopen a line.
struct TOpenHandler {
    using Code = std::int32_t (*)(void* data, std::int32_t line);
    Code code = nullptr;
    void* data = nullptr;

    explicit operator bool() const { return code != nullptr; }
    std::int32_t operator()(std::int32_t line) const { return code(data, line); }
};

// Line states stored by the checker.
inline constexpr std::uint8_t kLineStateGood = 1;
inline constexpr std::uint8_t kLineStateBad = 3;
// Stored by the serial port service for a reply that answers its request and
// refuses it (nonzero result byte): no value of it may be taken.
inline constexpr std::uint8_t kLineStateRefused = 4;

// Error codes stored by the checker.
inline constexpr std::int32_t kReplyOk = 0;
inline constexpr std::int32_t kReplyBadChecksum = 222;
inline constexpr std::int32_t kReplyBadStart = 223;
inline constexpr std::int32_t kReplyBadLength = 246;

// The operations the driver calls, in the order of the service's table.
class TPortManager {
public:
    // Failure code of the line; nonzero after a failed transfer.
    virtual std::int32_t GetLineError(std::uint8_t line) = 0;
    virtual void SetLineError(std::uint8_t line, std::int32_t code) = 0;
    virtual void SetLineState(std::uint8_t line, std::uint8_t state) = 0;
    // The state the checker stored last; 1 means a good reply is in the buffer.
    virtual std::uint8_t GetLineState(std::uint8_t line) = 0;
    virtual void SetReplyChecker(std::uint8_t line, TReplyChecker checker) = 0;
    virtual void SetOpenHandler(std::int32_t line, TOpenHandler handler) = 0;
    // The driver opens with (line, 3, 9600, 64, 3, 0); the values other than
    // the rate belong to the service.
    virtual std::int32_t OpenLine(std::int32_t line, std::int32_t mode, std::int32_t baud, std::int32_t flags,
                                  std::int32_t retries, std::int32_t reserved) = 0;
    // 0 once the exchange is over without a transport failure.
    virtual std::int32_t WaitTransfer(const TTransferHandle& handle) = 0;
    // Sends the frame, collects at most expectedLength reply bytes into reply
    // from its first byte and has the line's checker judge them. The driver
    // always passes the line twice and the constants 2 and 0.
    virtual TTransferHandle StartTransfer(std::uint8_t line, std::uint8_t line2, const std::uint8_t* frame,
                                          std::uint8_t frameLength, std::uint8_t* reply, std::uint8_t expectedLength,
                                          std::int32_t mode, std::int32_t reserved) = 0;

    virtual ~TPortManager() = default;
};

}  // namespace zarvik
