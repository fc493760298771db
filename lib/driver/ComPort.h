// The error a command raises when its exchange fails (ESerialIO, in
// zarvik/exceptions.h) and the texts it carries. The driver raises its errors
// through the two functions below, which hand the host the text in its code
// page (protocol/HostText.h).
#pragma once

#include <string_view>

#include "zarvik/exceptions.h"

namespace zarvik::texts {

inline constexpr char kStatusRequestFailed[] = "Невозможно выполнить запрос состояния ТРК";
inline constexpr char kVolumeDoseFailed[] = "Невозможно выполнить установку дозы отпуска в литрах";
inline constexpr char kMoneyDoseFailed[] = "Невозможно выполнить установку дозы отпуска в рублях";
inline constexpr char kDispenserOutOfRange[] = "Номер колонки выходит за допустимый диапозон";

}  // namespace zarvik::texts

namespace zarvik {

// ESerialIO with `text` (UTF-8) in the host's code page.
[[noreturn]] void RaiseSerialIO(std::string_view text);
// zarvik::Exception with `text` (UTF-8) in the host's code page: arguments
// the driver cannot take, and what this build of it cannot do.
[[noreturn]] void RaiseError(std::string_view text);

}  // namespace zarvik
