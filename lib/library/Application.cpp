#include "library/Application.h"

#include <atomic>

namespace zarvik::app {

namespace {
std::atomic<std::intptr_t> g_handle{0};
}

void SetHandle(std::intptr_t handle) { g_handle.store(handle); }
std::intptr_t Handle() { return g_handle.load(); }

}  // namespace zarvik::app
