// Calling a driver operation by its position in the object's virtual table,
// as a host that knows only the slot numbers does. The argument and result
// types must be those of the operation in driver.h (references as pointers
// are fine: pass them as references here).
#pragma once

#include "zarvik/driver.h"

namespace zarvik {

// How a member function receives its object: on 32-bit Windows (GCC) in a
// register (thiscall), elsewhere as the first argument.
#if defined(_WIN32) && defined(__i386__)
#define ZARVIK_THISCALL __attribute__((thiscall))
#else
#define ZARVIK_THISCALL
#endif

template <typename Result, typename... Args>
Result CallSlot(TDriver25* driver, int slot, Args... args) {
    using Fn = Result(ZARVIK_THISCALL*)(TDriver25*, Args...);
    void* const* table = *reinterpret_cast<void* const* const*>(driver);
    return reinterpret_cast<Fn>(table[slot])(driver, args...);
}

}  // namespace zarvik
