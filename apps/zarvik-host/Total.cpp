// total: one nozzle's total in litres.
#include <iomanip>
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "loader/DriverSlots.h"

namespace zarvik::host {

int RunTotal(Session& s, const CommandArgs& a) {
    s.Open();
    double total = -1.0;
    slots::ReadNozzleTotal(s.Driver(), s.Line(), a.dispenser, a.nozzle, total);
    const bool good = s.LineResult() == 1;
    if (a.json)
        return EmitJson(s, a,
                        {{"line", s.Line()},
                         {"dispenser", a.dispenser},
                         {"nozzle", a.nozzle},
                         {"total", good ? json(total) : json(nullptr)}});
    if (good) std::cout << "total: " << std::fixed << std::setprecision(3) << total << " L\n";
    return PrintResult(s);
}

extern const Command kTotalCommand{
    "total", "read a nozzle's total", NozzleOptions, CheckDevice, OnSession<RunTotal>, true, false};

}  // namespace zarvik::host
