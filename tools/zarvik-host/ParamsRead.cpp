#include "ParamsRead.h"

#include "DriverSlots.h"
#include "protocol/ParameterCode.h"

namespace zarvik::host {

std::optional<std::int32_t> ReadValue(Session& s, int address, int table, int row, int field) {
    const std::int32_t v =
        slots::ReadParameter(s.Driver(), s.Line(), address, protocol::PackParameterCode(table, row, field));
    if (s.LineResult() != 1) return std::nullopt;
    return v;
}

}  // namespace zarvik::host
