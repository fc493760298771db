#include "params/ParameterUnit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "params/NumberText.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik::params {

namespace {

constexpr int32_t kFlowPairBase = 1000;   // first * 1000 + second
constexpr int32_t kTemperatureOff = 200;  // 200: sensor off; 200 - t for negative t
constexpr int32_t kTwoStateModulus = 100;
constexpr int32_t kSensorFirstChoice = 1;  // raw values of the sensor setting's two choices
constexpr int32_t kSensorSecondChoice = 200;
constexpr uint8_t kMaxWidth = 4;

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
      Kind(static_cast<TParamKind>(kind)),
      Numerator(numerator),
      Page(page),
      MinValue(minValue) {}

CParameter::~CParameter() = default;

int64_t CParameter::Number(int32_t raw) const {
    if (Width) return static_cast<int64_t>(static_cast<uint32_t>(raw));
    return raw;
}

bool CParameter::LimitsInverted() const { return Width && Number(MinValue) > Number(MaxValue); }

int64_t CParameter::WidthMax() const {
    if (!Width) return std::numeric_limits<int32_t>::max();
    const int bytes = std::min<int>(*Width, kMaxWidth);
    return (int64_t{1} << (8 * bytes)) - 1;
}

bool CParameter::FitsField(int64_t raw) const {
    if (Width) return *Width > 0 && raw >= 0 && raw <= WidthMax();  // width 0 holds nothing
    return raw >= std::numeric_limits<int32_t>::min() && raw <= std::numeric_limits<uint32_t>::max();
}

bool CParameter::WithinLimits(int64_t raw) const {
    if (LimitsInverted()) return FitsField(raw);
    return raw >= Number(MinValue) && raw <= Number(MaxValue);
}

double CParameter::ToDisplay(int32_t raw) const {
    const double p = PowerOfTen(Decimals);
    const int64_t n = Number(raw);
    switch (Kind) {
        case pkScaled:
        case pkReadOnly:
            return static_cast<double>(n) / p;
        case pkTwoState:
            return n % kTwoStateModulus != 0 ? 1.0 : 0.0;
        case pkWriteOnly:
            return 0.0;
        case pkReciprocal: {
            if (n <= 0) return 0.0;
            const long double quotient = static_cast<long double>(n) / p;
            return static_cast<double>(Numerator / quotient);
        }
        default:
            return static_cast<double>(n);
    }
}

int64_t CParameter::ToRawWide(double x) const {
    const double p = PowerOfTen(Decimals);
    switch (Kind) {
        case pkTwoState:
            return NearestInteger(x);
        case pkReciprocal: {
            if (!(x > 0.0)) return 0;  // also NaN
            const long double quotient = static_cast<long double>(x) / p;
            return NearestInteger(Numerator / quotient);
        }
        default:
            return NearestInteger(static_cast<long double>(x) * p);
    }
}

double CParameter::EditorMin() const {
    if (!LimitsInverted()) return MinDisplay();
    const auto top = static_cast<int32_t>(static_cast<uint32_t>(WidthMax()));
    return std::min(ToDisplay(0), ToDisplay(top));
}

double CParameter::EditorMax() const {
    if (!LimitsInverted()) return MaxDisplay();
    const auto top = static_cast<int32_t>(static_cast<uint32_t>(WidthMax()));
    return std::max(ToDisplay(0), ToDisplay(top));
}

namespace {

// The raw value a kind's editors encode, before any check; nullopt for the
// kinds that are never written.
std::optional<int64_t> EncodeEditors(const CParameter& p, const TEditorInput& input) {
    switch (p.Kind) {
        case pkScaled:
        case pkPlain:
        case pkPlainToo:
        case pkReciprocal:
            return p.ToRawWide(input.first);
        case pkTwoState:
        case pkChoiceList:
            return p.ToRawWide(input.choice);
        case pkFlowPair:
            return NearestInteger(static_cast<long double>(input.first) * kFlowPairBase + input.second);
        case pkTemperature:
        case pkColdTemperature: {
            const int64_t v = NearestInteger(input.first);
            return v >= 0 ? v : kTemperatureOff - v;
        }
        case pkSensorSetting:
            return input.choice == 0 ? kSensorFirstChoice : input.choice == 1 ? kSensorSecondChoice : 0;
        default:
            return std::nullopt;
    }
}

// Whether the kind's encoding reads the numeric editors at all.
bool UsesNumbers(TParamKind kind) { return kind != pkTwoState && kind != pkChoiceList && kind != pkSensorSetting; }

}  // namespace

TRawForWrite CParameter::RawForWrite(const TEditorInput& input) const {
    if (Kind == pkReadOnly) return {TWriteRefusal::wrReadOnly, 0};
    const std::optional<int64_t> raw = EncodeEditors(*this, input);
    if (!raw) return {TWriteRefusal::wrNotWritable, 0};
    const bool badFirst = UsesNumbers(Kind) && !std::isfinite(input.first);
    const bool badSecond = Kind == pkFlowPair && !std::isfinite(input.second);
    if (badFirst || badSecond) return {TWriteRefusal::wrNotANumber, 0};
    if (!FitsField(*raw)) return {TWriteRefusal::wrDoesNotFit, 0};
    return {TWriteRefusal::wrNone, static_cast<int32_t>(static_cast<uint32_t>(*raw))};
}

std::string CParameter::ValueText(int32_t raw) const {
    const int64_t n = Number(raw);
    if (n < 0 || Kind > pkReciprocal) throw zarvik::Exception(protocol::ToHostText(kConversionError));
    switch (Kind) {
        case pkScaled:
        case pkPlain:
        case pkPlainToo:
        case pkReadOnly:
        case pkReciprocal: {
            // Inverted limits have no minimum to raise to: the value held is shown.
            const double shown = LimitsInverted() ? ToDisplay(raw) : std::max(ToDisplay(raw), MinDisplay());
            return FormatNumber(shown, Digits, Decimals);
        }
        case pkTwoState:
        case pkChoiceList: {
            const int64_t i = NearestInteger(ToDisplay(raw));
            if (i >= 0 && i < static_cast<int64_t>(Choices.size())) return Choices[static_cast<size_t>(i)];
            return std::to_string(i);
        }
        case pkFlowPair:
            return std::to_string(n / kFlowPairBase) + " - " + std::to_string(n % kFlowPairBase);
        case pkTemperature:
        case pkSensorSetting:
        case pkColdTemperature:
            return std::to_string(n <= kTemperatureOff ? n : kTemperatureOff - n);
        case pkWriteOnly:
        default:
            return kWriteOnlyText;
    }
}

CTRKParameters::CTRKParameters() = default;
CTRKParameters::~CTRKParameters() = default;

int CTRKParameters::Count() const { return static_cast<int>(items_.size()); }

CParameter* CTRKParameters::Item(int index) const {
    if (index < 0 || index >= Count())
        throw zarvik::Exception(
            protocol::ToHostText("Индекс списка параметров вне границ (" + std::to_string(index) + ")"));
    return items_[static_cast<size_t>(index)].get();
}

CParameter* CTRKParameters::Add(std::unique_ptr<CParameter> parameter) {
    if (!parameter) throw zarvik::Exception(protocol::ToHostText("Пустой параметр не добавляется в список"));
    items_.push_back(std::move(parameter));
    return items_.back().get();
}

void CTRKParameters::Clear() { items_.clear(); }

}  // namespace zarvik::params
