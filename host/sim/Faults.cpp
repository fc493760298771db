#include "sim/Faults.h"

#include <algorithm>

#include "Wire.h"

namespace zarvik::sim {

namespace {

struct NamedMode {
    FaultMode mode;
    std::string_view name;
};

constexpr NamedMode kNames[] = {
    {FaultMode::kNone, "none"},
    {FaultMode::kDropReply, "drop"},
    {FaultMode::kBadChecksum, "checksum"},
    {FaultMode::kWrongLength, "length"},
    {FaultMode::kWrongStart, "start-byte"},
    {FaultMode::kTruncate, "truncate"},
    {FaultMode::kNoise, "noise"},
    {FaultMode::kDelay, "delay"},
    {FaultMode::kRefuseStart, "refuse-start"},
    {FaultMode::kRefuseStop, "refuse-stop"},
    {FaultMode::kRefuseWrite, "refuse-write"},
    {FaultMode::kOtherSequence, "sequence"},
    {FaultMode::kOtherAddress, "address"},
    {FaultMode::kFixedSequence, "fixed-sequence"},
    {FaultMode::kDuplicate, "duplicate"},
    {FaultMode::kOtherNozzle, "other-nozzle"},
    {FaultMode::kOtherCommand, "other-command"},
    {FaultMode::kLocalEcho, "local-echo"},
    {FaultMode::kRefuseAny, "refusal"},
    {FaultMode::kLateNonEchoing, "late-non-echoing"},
};

// Any byte but `byte`, drawn from the generator.
std::uint8_t OtherThan(std::uint8_t byte, std::mt19937& rng) {
    return static_cast<std::uint8_t>(byte + std::uniform_int_distribution<int>(1, 255)(rng));
}

void Reseal(std::vector<std::uint8_t>& bytes) {
    bytes.back() = wire::Xor(bytes.data(), wire::kOffsetSequence, bytes.size() - 2);
}

std::optional<std::uint8_t> RefusedCommand(FaultMode mode) {
    switch (mode) {
        case FaultMode::kRefuseStart:
            return wire::kCmdStart;
        case FaultMode::kRefuseStop:
            return wire::kCmdStop;
        case FaultMode::kRefuseWrite:
            return wire::kCmdWriteParameter;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string_view FaultName(FaultMode mode) {
    for (const auto& n : kNames)
        if (n.mode == mode) return n.name;
    return "?";
}

std::optional<FaultMode> ParseFault(std::string_view name) {
    for (const auto& n : kNames)
        if (n.name == name) return n.mode;
    return std::nullopt;
}

void FaultInjector::SetRate(FaultMode mode, double rate, std::uint32_t seed) {
    mode_ = mode;
    rate_ = std::clamp(rate, 0.0, 1.0);
    next_ = 0;
    rng_.seed(seed);
}

void FaultInjector::SetNext(FaultMode mode, int count) {
    mode_ = mode;
    rate_ = 0.0;
    next_ = std::max(count, 0);
}

void FaultInjector::Clear() {
    mode_ = FaultMode::kNone;
    rate_ = 0.0;
    next_ = 0;
}

bool FaultInjector::Fire() {
    if (mode_ == FaultMode::kNone) return false;
    bool fire = false;
    if (next_ > 0) {
        --next_;
        fire = true;
        if (next_ == 0 && rate_ == 0.0) mode_ = FaultMode::kNone;
    } else if (rate_ > 0.0) {
        fire = std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < rate_;
    }
    if (fire) ++injected_;
    return fire;
}

bool FaultInjector::Refuse(std::uint8_t command) {
    const auto refused = RefusedCommand(mode_);
    return refused && *refused == command && Fire();
}

FaultMode FaultInjector::Damage() {
    if (mode_ == FaultMode::kNone || RefusedCommand(mode_)) return FaultMode::kNone;
    const FaultMode mode = mode_;  // Fire() may end a "next N" run
    return Fire() ? mode : FaultMode::kNone;
}

void FaultInjector::Apply(FaultMode mode, std::vector<std::uint8_t>& bytes, std::mt19937& rng,
                          std::uint8_t fixedSequence) {
    if (bytes.size() < wire::kFrameOverhead) return;
    switch (mode) {
        case FaultMode::kDropReply:
            bytes.clear();
            break;
        case FaultMode::kBadChecksum:
            bytes.back() = static_cast<std::uint8_t>(~bytes.back());
            break;
        case FaultMode::kWrongLength:
            ++bytes[wire::kOffsetLen];
            Reseal(bytes);
            break;
        case FaultMode::kOtherSequence:
            bytes[wire::kOffsetSequence] = OtherThan(bytes[wire::kOffsetSequence], rng);
            Reseal(bytes);
            break;
        case FaultMode::kOtherAddress:
            bytes[wire::kOffsetAddress] = OtherThan(bytes[wire::kOffsetAddress], rng);
            Reseal(bytes);
            break;
        case FaultMode::kFixedSequence:
            bytes[wire::kOffsetSequence] = fixedSequence;
            Reseal(bytes);
            break;
        case FaultMode::kWrongStart:
            bytes[0] = kWrongStartByte;
            break;
        case FaultMode::kTruncate:
            bytes.resize(bytes.size() - kTruncatedBytes);
            break;
        case FaultMode::kNoise: {
            std::uniform_int_distribution<int> byte(0, 255);
            std::vector<std::uint8_t> noise;
            while (noise.size() < kNoiseBytes) {
                const auto b = static_cast<std::uint8_t>(byte(rng));
                if (b != wire::kStartByte) noise.push_back(b);
            }
            bytes.insert(bytes.begin(), noise.begin(), noise.end());
            break;
        }
        default:
            break;
    }
}

}  // namespace zarvik::sim
