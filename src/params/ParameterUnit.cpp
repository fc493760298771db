#include "params/ParameterUnit.h"

#include <cmath>
#include <limits>
#include <utility>

#include "params/NumberText.h"
#include "zarvik/exceptions.h"

namespace zarvik::params {

namespace {

// Kinds by their role in the conversions.
constexpr uint8_t kScaled = 0;
constexpr uint8_t kTwoState = 1;
constexpr uint8_t kFlowPair = 2;
constexpr uint8_t kTemperature = 3;
constexpr uint8_t kSensorSetting = 4;
constexpr uint8_t kColdTemperature = 5;
constexpr uint8_t kPlain = 6;
constexpr uint8_t kChoiceList = 7;
constexpr uint8_t kPlainToo = 8;
constexpr uint8_t kWriteOnly = 9;
constexpr uint8_t kReadOnlyScaled = 10;
constexpr uint8_t kReciprocal = 11;

constexpr int32_t kFlowPairBase = 1000;   // first * 1000 + second
constexpr int32_t kTemperatureOff = 200;  // 200: sensor off; 200 - t for negative t
constexpr int32_t kTwoStateModulus = 100;

}  // namespace

double PowerOfTen(int n) {
    double result = 1.0;
    for (int i = 0; i < n; ++i) result *= 10.0;
    return result;
}

int64_t NearestInteger(long double value) {
    if (std::isnan(value)) return 0;
    constexpr long double kLimit = 9223372036854775808.0L;  // 2^63
    if (value >= kLimit) return std::numeric_limits<int64_t>::max();
    if (value < -kLimit) return std::numeric_limits<int64_t>::min();
    // The fraction of an extended value is exact, so the tie test is exact too.
    const long double floor = std::floor(value);
    const long double fraction = value - floor;
    auto whole = static_cast<int64_t>(floor);
    if (fraction > 0.5L || (fraction == 0.5L && (whole & 1) != 0)) {
        if (whole == std::numeric_limits<int64_t>::max()) return whole;
        ++whole;
    }
    return whole;
}

namespace {

int32_t LowBits(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

CParameter::CParameter(uint8_t tableNo, uint8_t paramNo, uint8_t digits, uint8_t decimals, std::string name,
                       std::string units, int32_t value, int32_t minValue, int32_t maxValue, uint8_t kind, uint8_t page,
                       long double numerator)
    : TableNo(tableNo),
      ParamNo(paramNo),
      Digits(digits),
      Decimals(decimals),
      Name(std::move(name)),
      Units(std::move(units)),
      Value(value),
      MaxValue(maxValue),
      Kind(kind),
      Numerator(numerator),
      Page(page),
      MinValue(minValue) {}

CParameter::~CParameter() = default;

double CParameter::ToDisplay(int32_t raw) const {
    const double p = PowerOfTen(Decimals);
    switch (Kind) {
        case kScaled:
        case kReadOnlyScaled:
            return raw / p;
        case kTwoState:
            return raw % kTwoStateModulus != 0 ? 1.0 : 0.0;
        case kWriteOnly:
            return 0.0;
        case kReciprocal: {
            if (raw <= 0) return 0.0;
            const long double quotient = static_cast<long double>(raw) / p;
            return static_cast<double>(Numerator / quotient);
        }
        default:
            return raw;
    }
}

int32_t CParameter::ToRaw(double x) const {
    const double p = PowerOfTen(Decimals);
    switch (Kind) {
        case kTwoState:
            return LowBits(NearestInteger(x));
        case kReciprocal: {
            if (!(x > 0.0)) return 0;  // also NaN
            const long double quotient = static_cast<long double>(x) / p;
            return LowBits(NearestInteger(Numerator / quotient));
        }
        default:
            return LowBits(NearestInteger(static_cast<long double>(x) * p));
    }
}

std::string CParameter::ValueText(int32_t raw) const {
    if (raw < 0 || Kind > kReciprocal) throw zarvik::Exception(kConversionError);
    switch (Kind) {
        case kScaled:
        case kPlain:
        case kPlainToo:
        case kReadOnlyScaled:
        case kReciprocal: {
            const double shown = std::max(ToDisplay(raw), MinDisplay());
            return FormatNumber(shown, Digits, Decimals);
        }
        case kTwoState:
        case kChoiceList: {
            const int64_t i = NearestInteger(ToDisplay(raw));
            if (i >= 0 && i < static_cast<int64_t>(Choices.size())) return Choices[static_cast<size_t>(i)];
            return std::to_string(i);
        }
        case kFlowPair:
            return std::to_string(raw / kFlowPairBase) + " - " + std::to_string(raw % kFlowPairBase);
        case kTemperature:
        case kSensorSetting:
        case kColdTemperature:
            return std::to_string(raw <= kTemperatureOff ? raw : kTemperatureOff - raw);
        case kWriteOnly:
        default:
            return kWriteOnlyText;
    }
}

CTRKParameters::CTRKParameters() = default;
CTRKParameters::~CTRKParameters() = default;

int CTRKParameters::Count() const { return static_cast<int>(items_.size()); }

CParameter* CTRKParameters::Item(int index) const {
    if (index < 0 || index >= Count())
        throw zarvik::Exception("Индекс списка параметров вне границ (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)].get();
}

CParameter* CTRKParameters::Add(std::unique_ptr<CParameter> parameter) {
    if (!parameter) throw zarvik::Exception("Пустой параметр не добавляется в список");
    items_.push_back(std::move(parameter));
    return items_.back().get();
}

void CTRKParameters::Clear() { items_.clear(); }

}  // namespace zarvik::params
