// scan: which bus addresses answer.
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "hostkit/Interrupt.h"
#include "loader/DriverSlots.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {

// Exit code 0 when an address answers, 1 when none does.
int RunScan(Session& s, const CommandArgs& a) {
    s.Open();
    port::LineSettings quick = s.Settings();
    quick.response = std::chrono::milliseconds(100);
    s.Port().SetSettings(s.Line(), quick);
    json found = json::array();
    for (int address = 1; address <= 16 && InterruptSignal() == 0; ++address) {
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), 2 * address - 1, 1, st);
        } catch (const ESerialIO&) {
            continue;  // nothing at this address
        }
        const int result = s.LineResult();
        found.push_back({{"address", address}, {"dispensers", {2 * address - 1, 2 * address}}, {"lineResult", result}});
        if (!a.json)
            std::cout << "address " << address << ": answers (dispensers " << 2 * address - 1 << " and " << 2 * address
                      << "), line result " << result << '\n';
    }
    const bool any = !found.empty();
    if (a.json) {
        EmitJson(s, a, {{"answering", std::move(found)}});
    } else {
        std::cout << found.size() << " address(es) answer\n";
        PrintLineResult(s, std::cout);
    }
    return any ? kExitOk : kExitExchangeFailed;
}

extern const Command kScanCommand{"scan", "which bus addresses answer", nullptr, CheckDevice, OnSession<RunScan>, true,
                                  false};

}  // namespace zarvik::host
