#include "DriverFactory.h"

namespace zarvik::capi {

GetVM30Fn DriverFactory() { return &GetVM30; }

}  // namespace zarvik::capi
