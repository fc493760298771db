// The library's only exports.
#include "zarvik/exports.h"

#include "library/DriverObject.h"

extern "C" {

ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetVM30(std::int32_t Options, std::intptr_t AppHandle,
                                                     zarvik::TPortManager* PortManager) {
    return zarvik::CreateDriver(Options, AppHandle, PortManager);
}

ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetDriver25(std::int32_t Options, std::intptr_t AppHandle,
                                                         zarvik::TPortManager* PortManager, std::int32_t, std::int32_t,
                                                         std::int32_t, std::int32_t, std::int32_t) {
    return zarvik::CreateDriver(Options, AppHandle, PortManager);
}
}
