// The error a command raises when its exchange fails, and the driver's texts.
#pragma once

#include "zarvik/exceptions.h"

namespace zarvik::texts {

inline constexpr const char* kStatusRequestFailed = "Невозможно выполнить запрос состояния ТРК";
inline constexpr const char* kVolumeDoseFailed = "Невозможно выполнить установку дозы отпуска в литрах";
inline constexpr const char* kMoneyDoseFailed = "Невозможно выполнить установку дозы отпуска в рублях";
inline constexpr const char* kDispenserOutOfRange = "Номер колонки выходит за допустимый диапозон";

// Our own texts for arguments the tables cannot hold.
inline constexpr const char* kLineOutOfRange = "Номер линии должен быть от 1 до 32";
inline constexpr const char* kDispenserNumberOutOfRange = "Номер ТРК должен быть от 1 до 32";
inline constexpr const char* kNozzleOutOfRange = "Номер пистолета должен быть от 1 до 6";
inline constexpr const char* kMenuUnavailable = "Меню ТРК недоступно: библиотека собрана без окон";

}  // namespace zarvik::texts
