// Installs operation 24's body when the shared library is loaded. This file
// is compiled into libZarvikTrk.so itself (not into a static library, where
// the linker would drop an object nothing refers to).
#include "ui/MenuEntry.h"

#include "driver/VM30.h"

namespace {

[[maybe_unused]] const bool g_menuEntryInstalled = [] {
    zarvik::SetMenuEntryHook(&zarvik::InsertMenuEntry);
    return true;
}();

}  // namespace
