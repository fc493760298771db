#include "params/Calibration.h"

#include <cmath>
#include <limits>

#include "params/ParameterUnit.h"
#include "protocol/HostText.h"
#include "protocol/ParameterCode.h"
#include "zarvik/exceptions.h"

namespace zarvik::params {

namespace {

constexpr int32_t kCoefficientTable = 2;
constexpr int32_t kCoefficientField = 21;

}  // namespace

int32_t CalibrationCode(int32_t row) { return protocol::PackParameterCode(kCoefficientTable, row, kCoefficientField); }

int16_t CoefficientFromRead(int32_t readValue) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(readValue) & 0xFFFFu));
}

int32_t NewCoefficient(int16_t current, double ordered, double delivered) {
    // e + 1 == 0 has no quotient; a wrapped result would corrupt the dispenser.
    if (current == -1) throw zarvik::Exception(protocol::ToHostText(kCoefficientMinusOne));

    long double a = ordered;
    if (current != 0) {
        const long double reciprocal = 1.0L / (static_cast<long double>(current) + 1.0L);
        const long double share = 1.0L - reciprocal;
        a = static_cast<long double>(ordered) * share;
    }
    const long double f = delivered;
    if (a == f) return 0;

    const long double k = a / (f - a);
    constexpr long double kLowest = std::numeric_limits<int32_t>::min();
    constexpr long double kHighest = std::numeric_limits<int32_t>::max();
    if (std::isnan(k) || k < kLowest - 0.5L || k > kHighest + 0.5L)
        throw zarvik::Exception(protocol::ToHostText(kCoefficientOutOfRange));
    const int64_t rounded = NearestInteger(k);
    if (rounded < std::numeric_limits<int32_t>::min() || rounded > std::numeric_limits<int32_t>::max())
        throw zarvik::Exception(protocol::ToHostText(kCoefficientOutOfRange));
    return static_cast<int32_t>(rounded);
}

std::optional<std::string> CalibrationInputProblem(double ordered, double delivered) {
    // Negated comparisons so that a NaN fails the check too.
    if (!(ordered >= kMinOrderedDose)) return std::string(kDoseTooSmall);
    if (!(delivered >= kMinDeliveredVolume)) return std::string(kDeliveredTooSmall);
    return std::nullopt;
}

void CheckCalibrationInput(double ordered, double delivered) {
    if (auto problem = CalibrationInputProblem(ordered, delivered))
        throw zarvik::Exception(protocol::ToHostText(*problem));
}

}  // namespace zarvik::params
