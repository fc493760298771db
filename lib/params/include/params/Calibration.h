// Arithmetic of the volume correction coefficient.
//
// The coefficient is parameter 21 of dispenser table 2, one per row. From the
// coefficient read e (low 16 bits of the read value, signed), the ordered
// dose D and the delivered volume F, the new coefficient is
//     A = D                          if e == 0
//     A = D * (1 - 1 / (e + 1))      otherwise (extended precision, in this order)
//     k = 0                          if A == F
//     k = N(A / (F - A))             otherwise (nearest integer, ties to even)
// A coefficient of -1 (no quotient) and a k outside the signed 32-bit range
// are refused with zarvik::Exception; the caller then writes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zarvik::params {

inline constexpr const char* kDoseTooSmall = "Заказанная доза менее 2 литров";
inline constexpr const char* kDeliveredTooSmall = "Налито менее 1 литра";
inline constexpr const char* kCoefficientMinusOne =
    "Текущий поправочный коэффициент равен -1: новый коэффициент не вычисляется, ничего не записано";
inline constexpr const char* kCoefficientOutOfRange =
    "Новый поправочный коэффициент выходит за пределы 32-битного целого: ничего не записано";

inline constexpr double kMinOrderedDose = 2.0;      // litres
inline constexpr double kMinDeliveredVolume = 1.0;  // litres

// Parameter code of the coefficient of a row: row * 100 + 1020021
// (1000000 + table 2 * 10000 + row * 100 + parameter 21).
int32_t CalibrationCode(int32_t row);

// The current coefficient as stored: low 16 bits of the read value, signed.
int16_t CoefficientFromRead(int32_t readValue);

// The new coefficient; throws zarvik::Exception (kCoefficientMinusOne,
// kCoefficientOutOfRange) when none can be written.
int32_t NewCoefficient(int16_t current, double ordered, double delivered);

// The check before the dialog closes with OK: the first failing text, or none.
std::optional<std::string> CalibrationInputProblem(double ordered, double delivered);
// The same check, throwing zarvik::Exception with that text.
void CheckCalibrationInput(double ordered, double delivered);

}  // namespace zarvik::params
