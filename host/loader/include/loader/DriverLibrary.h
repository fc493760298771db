// Loading the driver library the way a host does: dlopen, look up GetVM30,
// create the driver object, call its operations by slot number through the
// object's virtual table.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "zarvik/driver.h"
#include "zarvik/exports.h"
#include "zarvik/port_manager.h"
#include "zarvik/slot_call.h"

namespace zarvik::host {

// ZARVIK_LIBRARY from the environment; else the build tree's library when
// this executable runs from its build folder; else the installed library's
// SONAME, which the dynamic loader finds through the executable's RUNPATH
// (beside the installed tools) or the system's library folders.
std::string DefaultLibraryPath();

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library and resolves GetVM30. Throws std::runtime_error with
    // dlerror()'s text.
    void Load(const std::string& path);
    // A new driver object on the port service; the caller deletes it (the
    // destructor follows the operations in the table) before the library
    // goes away. appHandle: the host's main window (a QWidget*), the parent
    // of the library's windows; 0 for none.
    TDriver25* Create(std::int32_t options, TPortManager* port, std::intptr_t appHandle = 0) const;
    // The file the dynamic loader took (a name given without a folder is
    // found by its search path); empty before Load.
    std::string File() const;

private:
    void* handle_ = nullptr;
    GetVM30Fn getVM30_ = nullptr;
};

// Calls operation `slot` of the driver object through its virtual table, as
// a host that knows only the slot order does. R and Args must match the
// operation's declaration in driver.h exactly.
template <typename R, typename... Args>
R CallSlot(TDriver25* driver, DriverSlot slot, std::type_identity_t<Args>... args) {
    using Operation = R(ZARVIK_THISCALL*)(TDriver25*, Args...);
    void* const* table = *reinterpret_cast<void* const* const*>(driver);
    return reinterpret_cast<Operation>(table[slot])(driver, std::forward<Args>(args)...);
}

}  // namespace zarvik::host
