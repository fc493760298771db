// The library's application adapter: what the host's application handle
// becomes inside the library. The factories hand it over first; the windows
// take it as their parent (a QWidget* of the host, or 0 for none).
#pragma once

#include <cstdint>

namespace zarvik::app {

void SetHandle(std::intptr_t handle);
std::intptr_t Handle();

}  // namespace zarvik::app
