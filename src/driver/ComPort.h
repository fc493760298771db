// The error a command raises when its exchange fails (ESerialIO, in
// zarvik/exceptions.h) and the texts it carries.
#pragma once

#include "zarvik/exceptions.h"

namespace zarvik::texts {

inline constexpr char kStatusRequestFailed[] = "Невозможно выполнить запрос состояния ТРК";
inline constexpr char kVolumeDoseFailed[] = "Невозможно выполнить установку дозы отпуска в литрах";
inline constexpr char kMoneyDoseFailed[] = "Невозможно выполнить установку дозы отпуска в рублях";
inline constexpr char kDispenserOutOfRange[] = "Номер колонки выходит за допустимый диапозон";

}  // namespace zarvik::texts
