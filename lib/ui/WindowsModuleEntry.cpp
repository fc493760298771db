// The entry points of the windows' module (library/WindowsModule.h): the
// only symbols zarvik-windows.so exports. The module carries its own copy of
// the driver's code and state; the library hands it the current driver
// object and application handle before anything is shown.
#include <cstdint>

#include "library/Application.h"
#include "library/DriverObject.h"
#include "ui/MenuEntry.h"

#define ZARVIK_MODULE_EXPORT __attribute__((visibility("default")))

extern "C" {

ZARVIK_MODULE_EXPORT void ZarvikWindowsContext(zarvik::TVM30* current, std::intptr_t appHandle) {
    zarvik::DriverObject = current;
    zarvik::app::SetHandle(appHandle);
}

ZARVIK_MODULE_EXPORT void ZarvikWindowsMenuEntry(zarvik::TVM30& driver, QAction* parent,
                                                 zarvik::TMenuItemFactory factory) {
    zarvik::InsertMenuEntry(driver, parent, factory);
}
}
