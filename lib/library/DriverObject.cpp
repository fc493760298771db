#include "library/DriverObject.h"

#include "library/Application.h"

namespace zarvik {

TVM30* DriverObject = nullptr;

TVM30* CreateDriver(std::int32_t options, std::intptr_t appHandle, TPortManager* portManager) {
    app::SetHandle(appHandle);
    auto* driver = new TVM30(options, portManager);
    DriverObject = driver;
    return driver;
}

}  // namespace zarvik
