// Calling a driver operation by its position in the object's virtual table,
// as a host that knows only the slot numbers does. The argument and result
// types must be those of the operation in driver.h (references as pointers
// are fine: pass them as references here).
#pragma once

#include "zarvik/driver.h"

namespace zarvik {

template <typename Result, typename... Args>
Result CallSlot(TDriver25* driver, int slot, Args... args) {
    using Fn = Result (*)(TDriver25*, Args...);
    void* const* table = *reinterpret_cast<void* const* const*>(driver);
    return reinterpret_cast<Fn>(table[slot])(driver, args...);
}

}  // namespace zarvik
