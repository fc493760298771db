// status: one poll of a dispenser's nozzles, each with the values of its
// own status reply.
#include <iomanip>
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "StatusCapture.h"
#include "StatusReport.h"
#include "loader/DriverSlots.h"

namespace zarvik::host {

void PrintStatus(const DispenserStatusView& st) {
    std::cout << "State: " << StateText(st.state) << "  StateNozzle: " << st.stateNozzle << '\n';
    for (std::size_t i = 0; i < st.nozzles.size(); ++i) {
        const std::optional<NozzleValues>& p = st.nozzles[i];
        std::cout << "nozzle " << i + 1 << ": ";
        if (!p) {
            std::cout << "not polled\n";
            continue;
        }
        std::cout << "state " << StateText(p->state) << std::fixed << std::setprecision(3) << "  volume " << p->litres
                  << " L" << std::setprecision(2) << "  money " << p->money << '\n'
                  << std::defaultfloat;
    }
}

json StatusJson(const DispenserStatusView& st) {
    json nozzles = json::array();
    for (std::size_t i = 0; i < st.nozzles.size(); ++i) {
        const std::optional<NozzleValues>& p = st.nozzles[i];
        json n{{"number", i + 1}, {"polled", p.has_value()}};
        if (p) {
            n["state"] = StateJson(p->state);
            n["volume"] = p->litres;
            n["money"] = p->money;
        }
        nozzles.push_back(std::move(n));
    }
    return {{"line", st.line},
            {"dispenser", st.dispenser},
            {"state", StateJson(st.state)},
            {"stateNozzle", st.stateNozzle},
            {"nozzles", std::move(nozzles)}};
}

namespace {

DispenserStatusView View(Session& s, const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    DispenserStatusView view{s.Line(), a.dispenser, st.State, int{st.StateNozzle}, {}};
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const std::optional<NozzleReply> p = capture.Find(a.dispenser, k);
        if (p)
            view.nozzles.push_back(
                NozzleValues{static_cast<std::uint8_t>(st.NozzleStates[k - 1]), p->litres, p->money});
        else
            view.nozzles.push_back(std::nullopt);
    }
    return view;
}

}  // namespace

int RunStatus(Session& s, const CommandArgs& a) {
    s.Open();
    StatusCapture capture(s);
    TDispenserStatus st{};
    slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
    const DispenserStatusView view = View(s, st, capture, a);
    if (a.json) return EmitJson(s, a, StatusJson(view));
    PrintStatus(view);
    return PrintResult(s);
}

extern const Command kStatusCommand{
    "status", "poll a dispenser's nozzles", NozzlesOptions, CheckDevice, OnSession<RunStatus>, true, false};

}  // namespace zarvik::host
