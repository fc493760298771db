// Faults a line can be told to show, decided per reply.
//
// A mode is active either for the next N replies it applies to, or at a rate
// (probability 0..1 per applicable reply, drawn from a seeded generator so a
// run repeats). Refusal modes apply only to their command (start, stop,
// parameter write) and answer it with a refusal instead of executing it; the
// other modes apply to every reply and damage what goes on the wire.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace zarvik::sim {

enum class FaultMode {
    kNone,
    kDropReply,       // nothing is sent (the command was executed)
    kBadChecksum,     // last byte inverted
    kWrongLength,     // LEN one more than the data bytes sent; checksum matches the bytes sent
    kWrongStart,      // start byte 0x03 instead of 0x02
    kTruncate,        // the last 3 bytes are not sent
    kNoise,           // garbage bytes (no 0x02 among them) before the reply
    kDelay,           // the reply is sent after Faults::delay (past the host's response time: a late reply)
    kOtherSequence,   // the reply carries another sequence number than the request's
    kOtherAddress,    // the reply carries another bus address than the request's
    kFixedSequence,   // the reply carries the fixed sequence byte instead of the request's (a dispenser that never
                      // echoes)
    kRefuseStart,     // 0x97 answered with result 1, nothing started
    kRefuseStop,      // 0x96 answered with result 1, nothing stopped
    kRefuseWrite,     // 0x1E answered with result 1, nothing written
    kDuplicate,       // the reply is sent twice, the copy right after it
    kOtherNozzle,     // a nozzle command answered for the next nozzle byte (status and total: that nozzle's values)
    kOtherCommand,    // status answered with a total reply, total with a status reply, others with a start reply's code
    kLocalEcho,       // the request's own bytes come back before the reply (an echoing RS-485 converter)
    kRefuseAny,       // any reply: result 1, values after the nozzle byte zeroed (the command still ran: for reads)
    kLateNonEchoing,  // every reply carries the fixed sequence byte; at the rate it is also sent after the delay
};

inline constexpr FaultMode kAllFaultModes[] = {
    FaultMode::kDropReply,     FaultMode::kBadChecksum, FaultMode::kWrongLength,   FaultMode::kWrongStart,
    FaultMode::kTruncate,      FaultMode::kNoise,       FaultMode::kDelay,         FaultMode::kRefuseStart,
    FaultMode::kRefuseStop,    FaultMode::kRefuseWrite, FaultMode::kOtherSequence, FaultMode::kOtherAddress,
    FaultMode::kFixedSequence, FaultMode::kDuplicate,   FaultMode::kOtherNozzle,   FaultMode::kOtherCommand,
    FaultMode::kLocalEcho,     FaultMode::kRefuseAny,   FaultMode::kLateNonEchoing};

// "none", "drop", "checksum", "length", "start-byte", "truncate", "noise",
// "delay", "refuse-start", "refuse-stop", "refuse-write", "sequence",
// "address", "fixed-sequence", "duplicate", "other-nozzle", "other-command",
// "local-echo", "refusal", "late-non-echoing".
std::string_view FaultName(FaultMode mode);
std::optional<FaultMode> ParseFault(std::string_view name);

inline constexpr std::size_t kNoiseBytes = 4;
inline constexpr std::size_t kTruncatedBytes = 3;
inline constexpr std::uint8_t kWrongStartByte = 0x03;

class FaultInjector {
public:
    void SetRate(FaultMode mode, double rate, std::uint32_t seed);
    void SetNext(FaultMode mode, int count);
    void Clear();
    void SetDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    std::chrono::milliseconds Delay() const { return delay_; }
    // The byte a dispenser that never echoes puts where the sequence number goes.
    void SetFixedSequence(std::uint8_t byte) { fixedSequence_ = byte; }
    std::uint8_t FixedSequence() const { return fixedSequence_; }
    FaultMode Mode() const { return mode_; }
    std::uint64_t Injected() const { return injected_; }

    // Decides for one reply to `command`: true when the active refusal mode
    // fires for it.
    bool Refuse(std::uint8_t command);
    // Decides for one reply: the damage mode that fires, or kNone.
    FaultMode Damage();
    // Applies a damage mode to a well-formed reply frame. The modes that
    // change the sequence number or address keep the checksum right.
    static void Apply(FaultMode mode, std::vector<std::uint8_t>& bytes, std::mt19937& rng,
                      std::uint8_t fixedSequence = 0);
    std::mt19937& Rng() { return rng_; }

private:
    bool Fire();

    FaultMode mode_ = FaultMode::kNone;
    double rate_ = 0.0;
    int next_ = 0;  // > 0: fire on the next `next_` applicable replies
    std::mt19937 rng_{1};
    std::chrono::milliseconds delay_{1000};
    std::uint8_t fixedSequence_ = 0;
    std::uint64_t injected_ = 0;
};

}  // namespace zarvik::sim
