#include "hostkit/StateNames.h"

namespace zarvik::host {
namespace {

constexpr std::uint8_t kKindMask = 0xF8;

struct KnownKind {
    std::uint8_t bits;
    StateName name;
};

constexpr KnownKind kKinds[] = {
    {0xC0, {StateKind::Idle, "idle", "Свободна"}},
    {0xE8, {StateKind::Authorised, "authorised", "Разрешён отпуск"}},
    {0xE0, {StateKind::NozzleUp, "nozzle up", "Пистолет снят"}},
    {0xD8, {StateKind::Delivering, "delivering", "Отпуск топлива"}},
    {0xD0, {StateKind::Finished, "finished", "Отпуск завершён"}},
};

}  // namespace

StateName NameDispenserState(std::uint8_t code) {
    for (const KnownKind& k : kKinds)
        if ((code & kKindMask) == k.bits) return k.name;
    return {StateKind::Unknown, "unknown", "Неизвестно"};
}

}  // namespace zarvik::host
