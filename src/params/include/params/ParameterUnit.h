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
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zarvik::params {

inline constexpr const char* kConversionError = "Ошибка при преобразовании параметра в текстовый вид";
inline constexpr const char* kWriteOnlyText = "Только запись";

// 1.0 multiplied n times by 10.0 in double precision; 1.0 when n <= 0.
double PowerOfTen(int n);

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
    int32_t ToRaw(double x) const;
    // Text of a raw value in the process's number format; throws
    // zarvik::Exception(kConversionError) for raw < 0 or kind > 11.
    std::string ValueText(int32_t raw) const;

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
    uint8_t Kind;
    long double Numerator;             // numerator of the reciprocal scaling of kind 11
    uint8_t Page;                      // 0-based window page
    std::vector<std::string> Choices;  // choice texts; position = choice value
    std::string ReadText;              // text of the last read
    int32_t MinValue;
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
