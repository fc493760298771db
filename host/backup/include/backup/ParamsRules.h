// What may be written to a dispenser field, and whether a dump file fits the
// dispenser it is to be restored to. No I/O: the commands read the
// descriptions and values, these rules judge them.
//
// A field's width and limits are read as the descriptor model reads a field
// description (params::CParameter with a width): raw values are unsigned
// numbers of `size` bytes, limits likewise, and limits whose low lies above
// their high stand for the whole width.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/ParamsDocument.h"

namespace zarvik::host {

// A raw value as typed on the command line: a whole number ("260", "-5",
// "+7", also "1e3" or "260.0"). NaN, infinities, fractions and text are
// refused with the reason.
struct TypedValue {
    std::optional<std::int64_t> value;
    std::string error;  // why there is no value
};
TypedValue ParseRawValue(std::string_view text);

enum class ValueVerdict {
    kFits,           // within the width and the limits
    kOutsideLimits,  // fits the width, outside the limits (written only when forced)
    kDoesNotFit,     // more than the width holds, or negative
    kNoValueBytes,   // a field of width 0 holds nothing
};
struct ValueCheck {
    ValueVerdict verdict = ValueVerdict::kFits;
    std::string text;  // the reason, for every verdict but kFits
};
ValueCheck CheckValue(int table, const DumpField& field, std::int64_t value);

// "table 1 field 4 "Тайм-аут снятия пистолета, с""
std::string FieldTitle(int table, const DumpField& field);
// "1 byte, 0..255" / "2 bytes, limits 0..600"
std::string WidthText(const DumpField& field);
std::string LimitsText(const DumpField& field);

// The file's address and row against the target; another target needs `otherTarget`.
std::vector<Problem> CheckTarget(const ParamsDump& file, int address, int row, bool otherTarget);
// The file's tables and fields against the dispenser's own descriptions
// (names, row counts, types, widths, limits); `row` is the target row, which
// must exist wherever the file holds values.
std::vector<Problem> CompareLayout(const ParamsDump& file, const std::vector<DumpTable>& dispenser, int row);
// Every value of the file against its field's width and limits (limits
// only unless `force`).
std::vector<Problem> CheckValues(const ParamsDump& file, bool force);

}  // namespace zarvik::host
