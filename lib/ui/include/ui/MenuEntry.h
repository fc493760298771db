// The driver's entry in the host's menu (driver operation 24).
//
// The first call of operation 24 per loaded library looks through the direct
// sub-items of the host's item `parent` (parent->menu()->actions(), in order)
// for the first captioned "&ТРК" exactly, has the host's factory create an
// item under it (index -1) and makes that item "Настройка ТРК Зенто-М",
// opening the parameter window for the driver object of that call. Later
// calls do nothing. An error raised on the way (by the factory, or for a
// missing parent, factory or item) leaves the next call to try again.
#pragma once

#include <cstdint>

#include "driver/VM30.h"

class QKeySequence;
class QString;

namespace zarvik {

// True at load; false after the first call of operation 24 that raised
// nothing. Tests set it back to true to start over.
extern bool MenuPending;

// The caption of the host's item the entry goes under, and the entry's text.
inline constexpr char kHostMenuCaption[] = "&ТРК";
inline constexpr char kMenuEntryCaption[] = "Настройка ТРК Зенто-М";

// The item's help context is kept as this dynamic property (Qt actions have
// none of their own); the entry sets it to 0 and leaves whatsThis empty.
inline constexpr char kHelpContextProperty[] = "HelpContext";

// Operation 24's body; installed into the driver with SetMenuEntryHook.
void InsertMenuEntry(TVM30& driver, QAction* parent, TMenuItemFactory factory);

// Asks factory(parent, index) for an item and fills in its properties; a
// click calls ParamMenuClick(driver).
QAction* NewMenuItem(const QString& caption, const QString& hint, int helpContext, QAction* parent, std::int32_t index,
                     TVM30* driver, const QKeySequence& shortcut, TMenuItemFactory factory);

// The entry's click handler: shows the parameter window for driver. An error
// from the window is shown in an error box (it must not cross the event loop).
void ParamMenuClick(TVM30* driver);

}  // namespace zarvik
