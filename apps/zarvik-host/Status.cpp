// status: one poll of a dispenser's nozzles, each with the values of its
// own status reply.
#include <iomanip>
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "StatusCapture.h"
#include "loader/DriverSlots.h"

namespace zarvik::host {
namespace {

void PrintStatus(const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    std::cout << "State: " << StateText(st.State) << "  StateNozzle: " << int{st.StateNozzle} << '\n';
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const std::optional<NozzleReply> p = capture.Find(a.dispenser, k);
        std::cout << "nozzle " << k << ": ";
        if (!p) {
            std::cout << "not polled\n";
            continue;
        }
        const auto state = static_cast<std::uint8_t>(st.NozzleStates[k - 1]);
        std::cout << "state " << StateText(state) << std::fixed << std::setprecision(3) << "  volume " << p->litres
                  << " L" << std::setprecision(2) << "  money " << p->money << '\n'
                  << std::defaultfloat;
    }
}

json StatusJson(Session& s, const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    json nozzles = json::array();
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const std::optional<NozzleReply> p = capture.Find(a.dispenser, k);
        json n{{"number", k}, {"polled", p.has_value()}};
        if (p) {
            n["state"] = StateJson(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
            n["volume"] = p->litres;
            n["money"] = p->money;
        }
        nozzles.push_back(std::move(n));
    }
    return {{"line", s.Line()},
            {"dispenser", a.dispenser},
            {"state", StateJson(st.State)},
            {"stateNozzle", st.StateNozzle},
            {"nozzles", std::move(nozzles)}};
}

}  // namespace

int RunStatus(Session& s, const CommandArgs& a) {
    s.Open();
    StatusCapture capture(s);
    TDispenserStatus st{};
    slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
    if (a.json) return EmitJson(s, a, StatusJson(s, st, capture, a));
    PrintStatus(st, capture, a);
    return PrintResult(s);
}

extern const Command kStatusCommand{
    "status", "poll a dispenser's nozzles", NozzlesOptions, CheckDevice, OnSession<RunStatus>, true, false};

}  // namespace zarvik::host
