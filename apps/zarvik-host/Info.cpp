// info: the driver's information text and its capabilities (no line is
// opened, so no device is needed).
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "hostkit/VisibleText.h"
#include "loader/DriverSlots.h"
#include "protocol/Cp1251.h"

namespace zarvik::host {

int RunInfo(Session& s, const CommandArgs& a) {
    TShortString info;
    slots::DriverInfo(s.Driver(), info);
    const std::string driver = cp1251::ToUtf8(info.view());
    json capabilities = json::array();
    for (std::uint32_t kind = 1; kind <= 7; ++kind) {
        std::int32_t value = 0;
        if (slots::QueryCapability(s.Driver(), kind, value)) capabilities.push_back({{"kind", kind}, {"value", value}});
    }
    if (a.json) return EmitJson(s, a, {{"driver", driver}, {"capabilities", std::move(capabilities)}});
    std::cout << "driver: " << VisibleText(driver) << '\n';
    for (const auto& c : capabilities) std::cout << "capability " << c["kind"] << ": " << c["value"] << '\n';
    return PrintResult(s);
}

extern const Command kInfoCommand{
    "info", "driver information and capabilities", nullptr, CheckLine, OnSession<RunInfo>, true, false};

}  // namespace zarvik::host
