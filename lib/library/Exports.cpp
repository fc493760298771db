// The library's only exports.
#include "zarvik/exports.h"

#include "library/DriverObject.h"
#ifdef ZARVIK_WINDOWS_MODULE
#include "library/WindowsModule.h"
#endif

namespace {

zarvik::TDriver25* Create(std::int32_t options, std::intptr_t appHandle, zarvik::TPortManager* portManager) {
    zarvik::TVM30* driver = zarvik::CreateDriver(options, appHandle, portManager);
#ifdef ZARVIK_WINDOWS_MODULE
    zarvik::windows::DriverCreated();
#endif
    return driver;
}

}  // namespace

extern "C" {

ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetVM30(std::int32_t Options, std::intptr_t AppHandle,
                                                     zarvik::TPortManager* PortManager) {
    return Create(Options, AppHandle, PortManager);
}

ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetDriver25(std::int32_t Options, std::intptr_t AppHandle,
                                                         zarvik::TPortManager* PortManager, std::int32_t, std::int32_t,
                                                         std::int32_t, std::int32_t, std::int32_t) {
    return Create(Options, AppHandle, PortManager);
}
}
