#include "service/ControlJobs.h"

#include "hostkit/Console.h"
#include "hostkit/StateNames.h"
#include "loader/DriverSlots.h"
#include "service/ApiJson.h"
#include "service/LineJobs.h"
#include "station/Session.h"

namespace zarvik::service {

namespace host = zarvik::host;

namespace {

constexpr std::uint8_t kAccepted = 1;
constexpr std::uint8_t kRefused = 4;        // the reply's result byte said no (a price or dose)
constexpr std::uint8_t kStartRefused = 10;  // the driver's result for a start not accepted
constexpr std::uint8_t kStopRefused = 14;   // ... and for a stop not accepted

const char* CommandWord(SaleCommand::Kind kind) {
    switch (kind) {
        case SaleCommand::Kind::Price:
            return "цена не принята";
        case SaleCommand::Kind::Dose:
            return "доза не принята";
        case SaleCommand::Kind::Start:
            return "пуск не принят";
        case SaleCommand::Kind::Stop:
            break;
    }
    return "останов не принят";
}

void SendCommand(LineContext& c, const SaleCommand& command) {
    const Authorisation* sale = command.sale ? &*command.sale : nullptr;
    switch (command.kind) {
        case SaleCommand::Kind::Price:
            host::slots::SetNozzlePrice(c.driver, c.line, command.dispenser, command.nozzle, sale->price);
            return;
        case SaleCommand::Kind::Dose:
            if (sale->kind == PresetKind::Litres)
                host::slots::SetVolumeDose(c.driver, c.line, command.dispenser, command.nozzle, sale->amount);
            else
                host::slots::SetMoneyDose(c.driver, c.line, command.dispenser, command.nozzle, sale->amount);
            return;
        case SaleCommand::Kind::Start:
            host::slots::StartNozzle(c.driver, c.line, command.dispenser, command.nozzle);
            return;
        case SaleCommand::Kind::Stop:
            host::slots::StopNozzle(c.driver, c.line, command.dispenser, command.nozzle);
            return;
    }
}

// Sends one command and reads the line result. Throws Refused when the
// dispenser answered but did not accept it, LineFailure when the line did
// not answer (no reply, a bad reply).
void Command(LineContext& c, const SaleCommand& command, SaleRecorder& recorder) {
    recorder.Sending(c, command);
    std::string cause;
    bool refused = false;
    try {
        SendCommand(c, command);
        const std::uint8_t result = host::slots::GetLineResult(c.driver, c.line);
        if (result == kAccepted) {
            recorder.Answered(c, command, Answer::Accepted, {});
            return;
        }
        refused = result == kRefused || result == kStartRefused || result == kStopRefused;
        cause = std::string(CommandWord(command.kind)) + " (результат " + std::to_string(result) + ": " +
                host::LineResultMeaning(result) + ")";
        cause = c.failureCause(cause);  // the port service says why first
    } catch (const std::exception& e) {
        cause = c.failureCause(std::string(CommandWord(command.kind)) + ": " + host::ErrorText(e));
    }
    recorder.Answered(c, command, refused ? Answer::Refused : Answer::NoAnswer, cause);
    if (refused) throw Refused(cause);
    throw LineFailure(cause);
}

bool Idle(std::uint8_t state) { return host::NameDispenserState(state).kind == host::StateKind::Idle; }

// Sends the price alone (no sale): the state shows it once accepted.
void SendPrice(LineContext& c, int dispenser, int nozzle, double price) {
    SaleRecorder none;
    Authorisation priced{c.line, dispenser, nozzle};
    priced.price = price;
    Command(c, {SaleCommand::Kind::Price, c.line, dispenser, nozzle, priced}, none);
    c.state.PriceSet(c.line, dispenser, nozzle, price);
}

}  // namespace

json AuthoriseSale(LineContext& c, const Authorisation& sale, SaleRecorder& recorder) {
    Command(c, {SaleCommand::Kind::Price, sale.line, sale.dispenser, sale.nozzle, sale}, recorder);
    c.state.PriceSet(c.line, sale.dispenser, sale.nozzle, sale.price);
    for (const auto kind : {SaleCommand::Kind::Dose, SaleCommand::Kind::Start})
        Command(c, {kind, sale.line, sale.dispenser, sale.nozzle, sale}, recorder);
    json out{{"line", sale.line}, {"dispenser", sale.dispenser}, {"nozzle", sale.nozzle}, {"price", sale.price}};
    out[sale.kind == PresetKind::Litres ? "litres" : "money"] = sale.amount;
    out["accepted"] = true;
    if (const auto id = recorder.OpenSale(sale.line, sale.dispenser, sale.nozzle)) out["transaction"] = *id;
    // The state the dispenser reports now; null when that poll failed.
    const auto record = c.poll(sale.dispenser) ? c.state.Pump(c.line, sale.dispenser) : std::nullopt;
    out["state"] = record && record->lastGood ? StateJson(record->lastGood->state) : json(nullptr);
    return out;
}

std::vector<int> ActiveNozzles(const LineContext& c, const host::StationDispenser& d) {
    const auto record = c.state.Pump(c.line, d.number);
    std::vector<int> nozzles;
    const bool known = record && record->live && record->lastGood;
    for (int k = 1; k <= d.nozzles && k <= kMaxNozzles; ++k) {
        if (known) {
            const auto state = record->lastGood->nozzleStates[static_cast<std::size_t>(k - 1)];
            const host::StateKind kind = host::NameDispenserState(state).kind;
            if (kind != host::StateKind::Authorised && kind != host::StateKind::NozzleUp &&
                kind != host::StateKind::Delivering)
                continue;
        }
        nozzles.push_back(k);
    }
    return nozzles;
}

json StopNozzles(LineContext& c, int dispenser, const std::vector<int>& nozzles, SaleRecorder& recorder) {
    json stopped = json::array();
    for (const int k : nozzles) {
        json entry{{"line", c.line}, {"dispenser", dispenser}, {"nozzle", k}, {"result", "stopped"}};
        try {
            Command(c, {SaleCommand::Kind::Stop, c.line, dispenser, k, std::nullopt}, recorder);
        } catch (const Refused& e) {
            entry["result"] = "refused";
            entry["cause"] = e.what();
        } catch (const LineFailure& e) {
            entry["result"] = "failed";
            entry["cause"] = e.what();
        }
        stopped.push_back(std::move(entry));
    }
    return stopped;
}

json SetPrice(LineContext& c, int dispenser, int nozzle, double price) {
    const auto record = c.state.Pump(c.line, dispenser);
    const auto i = static_cast<std::size_t>(nozzle - 1);
    const bool busy = record && record->live && record->lastGood && !Idle(record->lastGood->nozzleStates[i]);
    if (busy)
        c.state.PricePending(c.line, dispenser, nozzle, price);
    else
        SendPrice(c, dispenser, nozzle, price);
    return {{"line", c.line}, {"dispenser", dispenser}, {"nozzle", nozzle}, {"price", price}, {"pending", busy}};
}

void ApplyPendingPrices(LineContext& c, const host::StationDispenser& d) {
    const auto record = c.state.Pump(c.line, d.number);
    if (!record || !record->live || !record->lastGood) return;
    for (int k = 1; k <= d.nozzles && k <= kMaxNozzles; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        if (!record->pendingPrice[i] || !Idle(record->lastGood->nozzleStates[i])) continue;
        try {
            SendPrice(c, d.number, k, *record->pendingPrice[i]);
        } catch (const std::exception&) {
            // Held still: tried again after the next good poll.
        }
    }
}

}  // namespace zarvik::service
