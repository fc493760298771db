// Dispenser parameter descriptors and their value conversions.
//
// A `CParameter` says where a parameter lives (table, parameter number), how
// its raw 32-bit value becomes a display number and a text, its raw limits,
// its current raw value and the text of its last read. `CTRKParameters` is
// the ordered list that owns the descriptors of the parameter window.
//
// N(v) below is v taken to the nearest integer with ties to even (2.5 -> 2,
// 3.5 -> 4), formed as a signed 64-bit integer; a raw value is its low 32
// bits. Kinds 0..11 are converted; `ValueText` refuses a negative raw value
// and kinds 12 and above with kConversionError (zarvik::Exception).
//
// A descriptor built from a dispenser's field description knows the field's
// width (`Width`, 1..4 bytes). Its raw values and limits are then the
// unsigned numbers the wire carries (zero-extended, so 0xFFFFFFFF is
// 4294967295, never -1), and a write is checked against the width before
// anything is sent. Without a width, raw values are signed 32-bit numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zarvik::params {

inline constexpr const char* kConversionError = "Ошибка при преобразовании параметра в текстовый вид";
inline constexpr const char* kWriteOnlyText = "Только запись";

// 1.0 multiplied n times by 10.0 in double precision; 1.0 when n <= 0.
double PowerOfTen(int n);

// Parameter kinds: how a raw value is shown, edited and written. A kind
// byte of 12 or more names no kind; such descriptors are shown raw and
// refused by ValueText and by writes.
enum class TParamKind : uint8_t {
    pkScaled = 0,           // raw / 10^Decimals
    pkTwoState = 1,         // 1 when raw mod 100 != 0, else 0; a choice
    pkFlowPair = 2,         // two values 0..999 l/min stored as first * 1000 + second
    pkTemperature = 3,      // -99..+200 degrees (200: sensor off); t < 0 stored as 200 - t
    pkSensorSetting = 4,    // sensor setting chosen from a list: 1, 200 or 0
    pkColdTemperature = 5,  // -20..0 degrees, stored as kind 3
    pkPlain = 6,            // plain number
    pkChoiceList = 7,       // raw = position of the choice
    pkPlainToo = 8,         // plain number
    pkWriteOnly = 9,        // never read; shown as "Только запись"
    pkReadOnly = 10,        // read-only scaled number
    pkReciprocal = 11,      // Numerator / (raw / 10^Decimals)
};
using enum TParamKind;  // the kinds read as plain pkScaled, pkPlain, ...

// What the window's in-place editors hold when the operator presses Enter.
struct TEditorInput {
    double first = 0.0;   // WriteValueEdit
    double second = 0.0;  // WriteValueEdit2 (the right half of a pair)
    int choice = -1;      // chosen index of WriteValueCB; -1 when none
};

// Why a write is not sent.
enum class TWriteRefusal : uint8_t {
    wrNone,         // the raw value may be sent
    wrReadOnly,     // kind 10
    wrNotWritable,  // kinds 9 and 12 and above
    wrNotANumber,   // an editor holds NaN or an infinity
    wrDoesNotFit,   // the value does not fit the field's width
};

struct TRawForWrite {
    TWriteRefusal refusal = TWriteRefusal::wrNone;
    int32_t raw = 0;  // meaningful for wrNone only
};

// Nearest integer, ties to even, computed in extended precision. NaN gives 0;
// values beyond the signed 64-bit range saturate at its limits.
int64_t NearestInteger(long double value);

class CParameter {
public:
    CParameter(uint8_t tableNo, uint8_t paramNo, uint8_t digits, uint8_t decimals, std::string name, std::string units,
               int32_t value, int32_t minValue, int32_t maxValue, uint8_t kind, uint8_t page, long double numerator);
    virtual ~CParameter();

    CParameter(const CParameter&) = delete;
    CParameter& operator=(const CParameter&) = delete;

    static double PowerOfTen(int n) { return params::PowerOfTen(n); }

    // Display number of a raw value, by kind; never fails.
    double ToDisplay(int32_t raw) const;
    double StepDisplay() const { return ToDisplay(10); }
    double MinDisplay() const { return ToDisplay(MinValue); }
    double MaxDisplay() const { return ToDisplay(MaxValue); }
    // Raw value of a display number, by kind: low 32 bits of N(...).
    int32_t ToRaw(double x) const { return static_cast<int32_t>(static_cast<uint32_t>(ToRawWide(x))); }
    // The same before it is cut to 32 bits.
    int64_t ToRawWide(double x) const;
    // Text of a raw value in the process's number format; throws
    // zarvik::Exception(kConversionError) for raw < 0 (without a width) or
    // kind > 11. With a width and limits that are not inverted, a value
    // below the minimum is shown as the minimum; with inverted limits the
    // value itself is shown.
    std::string ValueText(int32_t raw) const;

    // The raw value as a number: signed without a width, unsigned with one.
    int64_t Number(int32_t raw) const;
    // True for a descriptor with a width whose low limit lies above its high one.
    bool LimitsInverted() const;
    // The largest raw value the field's width carries (0 for width 0); the
    // signed 32-bit maximum without a width.
    int64_t WidthMax() const;
    // True when a write may send `raw`: 0..WidthMax() with a width of 1..4
    // (nothing for width 0), the signed or unsigned 32-bit range without one.
    bool FitsField(int64_t raw) const;
    // True when `raw` (a number as Number() reads it) lies within the limits,
    // MinValue..MaxValue; inverted limits stand for the whole width, so any
    // value that fits the field is within them.
    bool WithinLimits(int64_t raw) const;
    // The range of the numeric editor: MinDisplay..MaxDisplay, or for
    // inverted limits every display value the width carries.
    double EditorMin() const;
    double EditorMax() const;
    // The raw value a write sends for the editors' input, by kind, checked
    // against NaN and the field's width; nothing is to be sent on a refusal.
    TRawForWrite RawForWrite(const TEditorInput& input) const;

    // Fields in their fixed order. Only Value and ReadText change after
    // construction (the window updates them after reads and writes).
    uint8_t TableNo;
    uint8_t ParamNo;
    uint8_t Digits;     // significant digits of the number text
    uint8_t Decimals;   // digits after the separator; power of ten raw <-> display
    std::string Name;   // UTF-8
    std::string Units;  // UTF-8, may be empty
    int32_t Value;      // current raw value
    int32_t MaxValue;
    TParamKind Kind;
    long double Numerator;             // numerator of the reciprocal scaling of kind 11
    uint8_t Page;                      // 0-based window page
    std::vector<std::string> Choices;  // choice texts; position = choice value
    std::string ReadText;              // text of the last read
    int32_t MinValue;
    // Width of the dispenser's field in bytes, when the descriptor was built
    // from its description; set by the builder right after construction.
    std::optional<uint8_t> Width;
    // True once Value came from the dispenser (a good read or a write it
    // took); a window shows no value and opens no editor before that.
    bool ValueRead = false;
};

// Ordered list that owns its descriptors; a descriptor's grid row is its
// index plus 1. `Item` with an index outside 0..Count()-1 throws
// zarvik::Exception and leaves the list unchanged.
class CTRKParameters {
public:
    CTRKParameters();
    virtual ~CTRKParameters();

    CTRKParameters(const CTRKParameters&) = delete;
    CTRKParameters& operator=(const CTRKParameters&) = delete;

    int Count() const;
    CParameter* Item(int index) const;
    // Appends at the end; the list takes ownership. Returns the descriptor.
    CParameter* Add(std::unique_ptr<CParameter> parameter);
    // Destroys every descriptor; the list is empty afterwards.
    void Clear();

private:
    std::vector<std::unique_ptr<CParameter>> items_;
};

}  // namespace zarvik::params
