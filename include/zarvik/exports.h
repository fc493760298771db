// The library's two exports. Either creates a new driver object, makes it the
// module's current driver and returns it; the host owns it (delete releases
// it). Only the low byte of Options counts: bit 7 selects the price-change
// clear. AppHandle is the host's main window (a QWidget*, or 0 for none); the
// library's windows use it as their parent. The port service stays the host's.
#pragma once

#include <cstdint>

#include "zarvik/driver.h"
#include "zarvik/port_manager.h"

//
// On Windows (ZarvikTrk.dll) both are __stdcall, as Windows exports are, and
// exported under their plain names (no "@12" suffixes); on 32-bit Windows
// every argument is 32 bits wide.
#if defined(_WIN32)
#if defined(ZARVIK_BUILDING_LIBRARY)
#define ZARVIK_EXPORT __declspec(dllexport)
#else
#define ZARVIK_EXPORT __declspec(dllimport)
#endif
#define ZARVIK_CALL __stdcall
#else
#define ZARVIK_EXPORT __attribute__((visibility("default")))
#define ZARVIK_CALL
#endif

extern "C" {

ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetVM30(std::int32_t Options, std::intptr_t AppHandle,
                                                     zarvik::TPortManager* PortManager);

// The five arguments after the port service are accepted and ignored.
ZARVIK_EXPORT zarvik::TDriver25* ZARVIK_CALL GetDriver25(std::int32_t Options, std::intptr_t AppHandle,
                                                         zarvik::TPortManager* PortManager, std::int32_t, std::int32_t,
                                                         std::int32_t, std::int32_t, std::int32_t);

using GetVM30Fn = zarvik::TDriver25*(ZARVIK_CALL*)(std::int32_t, std::intptr_t, zarvik::TPortManager*);
using GetDriver25Fn = zarvik::TDriver25*(ZARVIK_CALL*)(std::int32_t, std::intptr_t, zarvik::TPortManager*, std::int32_t,
                                                       std::int32_t, std::int32_t, std::int32_t, std::int32_t);
}
