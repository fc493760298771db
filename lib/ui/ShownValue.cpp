#include "ShownValue.h"

#include <algorithm>

#include "params/NumberText.h"

namespace zarvik::shown {

using params::CParameter;

namespace {

// Kinds whose raw value is a plain or scaled number.
bool NumericKind(const CParameter& p) {
    using namespace params;
    return p.Kind == pkScaled || p.Kind == pkPlain || p.Kind == pkPlainToo || p.Kind == pkReadOnly;
}

double Scale(const CParameter& p) {
    return p.Kind == params::pkScaled || p.Kind == params::pkReadOnly ? CParameter::PowerOfTen(p.Decimals) : 1.0;
}

int Bits(const CParameter& p) { return 8 * std::clamp<int>(*p.Width, 1, 4); }

std::int64_t Signed(const CParameter& p, std::int32_t raw) {
    const std::int64_t u = p.Number(raw);
    const std::int64_t half = std::int64_t{1} << (Bits(p) - 1);
    return u >= half ? u - 2 * half : u;
}

}  // namespace

bool IsSigned(const CParameter& p) { return NumericKind(p) && p.LimitsInverted(); }

double ToDisplay(const CParameter& p, std::int32_t raw) {
    if (!IsSigned(p)) return p.ToDisplay(raw);
    return static_cast<double>(Signed(p, raw)) / Scale(p);
}

std::string ValueText(const CParameter& p, std::int32_t raw) {
    if (!IsSigned(p)) return p.ValueText(raw);
    return params::FormatNumber(ToDisplay(p, raw), p.Digits, p.Decimals);
}

double LowLimit(const CParameter& p) { return IsSigned(p) ? ToDisplay(p, p.MinValue) : p.MinDisplay(); }
double HighLimit(const CParameter& p) { return IsSigned(p) ? ToDisplay(p, p.MaxValue) : p.MaxDisplay(); }

double EditorMin(const CParameter& p) {
    if (!IsSigned(p)) return p.EditorMin();
    return std::min(LowLimit(p), HighLimit(p));
}

double EditorMax(const CParameter& p) {
    if (!IsSigned(p)) return p.EditorMax();
    return std::max(LowLimit(p), HighLimit(p));
}

double ForWriting(const CParameter& p, double edited) {
    if (!IsSigned(p)) return edited;
    std::int64_t raw = params::NearestInteger(static_cast<long double>(edited) * Scale(p));
    if (raw < 0) raw += std::int64_t{1} << Bits(p);
    return static_cast<double>(raw) / Scale(p);
}

}  // namespace zarvik::shown
