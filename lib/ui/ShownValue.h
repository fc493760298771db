// How the window shows and edits a descriptor's values.
//
// A field whose low limit, read unsigned, lies above its high limit is a
// signed field: the window shows its value and limits, and edits it, as a
// two's-complement number of the field's width (0xFF9C in two bytes is
// -100). Only numeric kinds are read so. The descriptor, its conversions and
// the wire stay unsigned: a signed edit is turned back into the unsigned
// display number the descriptor writes.
#pragma once

#include <cstdint>
#include <string>

#include "params/ParameterUnit.h"

namespace zarvik::shown {

bool IsSigned(const params::CParameter& p);
// The display number of a raw value: signed for a signed field.
double ToDisplay(const params::CParameter& p, std::int32_t raw);
// The text of a raw value; raises as CParameter::ValueText does.
std::string ValueText(const params::CParameter& p, std::int32_t raw);
// The numeric editor's range.
double EditorMin(const params::CParameter& p);
double EditorMax(const params::CParameter& p);
// The limits as "от" and "до" show them.
double LowLimit(const params::CParameter& p);
double HighLimit(const params::CParameter& p);
// The display number the descriptor's conversions take for an edited one.
double ForWriting(const params::CParameter& p, double edited);

}  // namespace zarvik::shown
