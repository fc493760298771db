// One parameter value read through the driver (operation 17), named by its
// table, row and field.
#pragma once

#include <cstdint>
#include <optional>

#include "Session.h"

namespace zarvik::host {

// nullopt when the line result is not good; throws zarvik::ESerialIO when the
// exchange fails.
std::optional<std::int32_t> ReadValue(Session& s, int address, int table, int row, int field);

}  // namespace zarvik::host
