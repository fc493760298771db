#include "service/SalesJournal.h"

#include <syslog.h>

#include <cmath>
#include <thread>

#include "hostkit/StateNames.h"
#include "service/LineJobs.h"

namespace zarvik::service {

namespace host = zarvik::host;
using journal::SaleState;

namespace {

// The nozzle's own status codes (reply byte 31) that end a delivery: its
// counters then hold that delivery's volume and money until the next start.
constexpr std::uint8_t kStatusFinished = 10;
constexpr std::uint8_t kStatusFinishedHung = 13;  // the driver clears it and reports idle
constexpr std::uint8_t kStatusStopped = 14;
constexpr double kHalfThousandth = 0.0005;

bool Ended(std::uint8_t status) {
    return status == kStatusFinished || status == kStatusFinishedHung || status == kStatusStopped;
}

bool Active(host::StateKind kind) {
    return kind == host::StateKind::Authorised || kind == host::StateKind::NozzleUp ||
           kind == host::StateKind::Delivering;
}

// Short of its dose: stopped rather than finished.
bool ShortOfPreset(const journal::Preset& preset, double litres, double money) {
    switch (preset.kind) {
        case journal::PresetKind::Litres:
            return litres < preset.amount - kHalfThousandth;
        case journal::PresetKind::Money:
            return money < preset.amount - 0.005;
        case journal::PresetKind::None:
            break;
    }
    return false;
}

journal::Preset PresetOf(const Authorisation& sale) {
    return {sale.kind == PresetKind::Litres ? journal::PresetKind::Litres : journal::PresetKind::Money, sale.amount};
}

}  // namespace

SalesJournal::SalesJournal(journal::Journal& journal, LogFunction log, Clock now)
    : journal_(journal), log_(std::move(log)), now_(std::move(now)) {}

std::size_t SalesJournal::Recover() {
    std::lock_guard lock(mutex_);
    for (const SaleState state : {SaleState::Authorising, SaleState::Authorised, SaleState::Delivering}) {
        journal::SaleFilter filter;
        filter.state = state;
        filter.limit = 100000;
        for (const journal::Sale& s : journal_.List(filter)) {
            Open open{s.id, s.state, false, true, s.preset, s.totalBefore};
            open_[{s.where.line, s.where.dispenser, s.where.nozzle}] = open;
        }
    }
    return open_.size();
}

bool SalesJournal::Write(const char* doing, journal::SaleId id, const std::function<void()>& write) {
    try {
        write();
        Told(id);
        return true;
    } catch (const journal::JournalError& e) {
        log_(LOG_ERR, std::string("sales journal: ") + doing + " of sale " + std::to_string(id) + ": " + e.what());
        return false;
    }
}

void SalesJournal::Told(journal::SaleId id) {
    if (observers_.empty()) return;
    const auto sale = journal_.Fetch(id);
    if (!sale) return;
    for (const Changed& observer : observers_) observer(*sale);
}

void SalesJournal::Sending(LineContext& c, const SaleCommand& command) {
    // A sale's first command is its price: the entry is written before it.
    if (command.kind == SaleCommand::Kind::Price && command.sale) Begin(c, command);
}

void SalesJournal::Begin(LineContext& c, const SaleCommand& command) {
    const Key key{command.line, command.dispenser, command.nozzle};
    if (const auto open = Get(key))
        throw Refused("на рукаве " + std::to_string(command.nozzle) + " не закрыта продажа " +
                      std::to_string(open->id));
    std::string error;
    const auto total = ReadNozzleTotal(c, command.dispenser, command.nozzle, error);
    if (!total) throw LineFailure(c.failureCause("итог рукава перед продажей не прочитан: " + error));
    journal::NewSale sale{
        {command.line, command.dispenser, command.nozzle}, PresetOf(*command.sale), command.sale->price, total, now_()};
    journal::SaleId id = 0;
    try {
        id = journal_.Begin(sale);
    } catch (const journal::JournalFull& e) {
        throw JournalUnavailable(std::string("журнал продаж заполнен, продажа не начата: ") + e.what(), true);
    } catch (const journal::JournalError& e) {
        throw JournalUnavailable(std::string("журнал продаж не записал продажу, она не начата: ") + e.what(), false);
    }
    Put(key, Open{id, SaleState::Authorising, false, false, sale.preset, total});
    Told(id);
    if (pause_.count() > 0) std::this_thread::sleep_for(pause_);
}

void SalesJournal::Answered(LineContext&, const SaleCommand& command, Answer answer, const std::string& cause) {
    if (!command.sale) return;  // a stop, or a price alone: polls show what it did
    const Key key{command.line, command.dispenser, command.nozzle};
    std::optional<Open> open = Get(key);
    if (!open || open->state != SaleState::Authorising) return;
    const bool start = command.kind == SaleCommand::Kind::Start;
    if (answer == Answer::Accepted) {
        if (!start) return;
        open->state = SaleState::Authorised;
        // Not written: the next good poll judges it from the dispenser.
        if (!Write("mark sent", open->id, [&] { journal_.MarkSent(open->id, now_()); })) open->reconcile = true;
        return Put(key, open);
    }
    if (start && answer == Answer::NoAnswer) {
        open->reconcile = true;  // the dispenser may have taken it: the next good poll tells
        return Put(key, open);
    }
    // Refused, or a price or dose unanswered: the start was never sent.
    const journal::SaleId id = open->id;
    if (Write("mark failed", id, [&] { journal_.MarkFailed(id, cause, now_()); })) Put(key, std::nullopt);
}

void SalesJournal::Polled(LineContext& c, const host::StationDispenser& d, const PumpReading& reading) {
    for (int k = 1; k <= d.nozzles && k <= kMaxNozzles; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        if (reading.values[i]) FollowNozzle(c, d.number, k, *reading.values[i], reading.nozzleStates[i]);
    }
}

// Only the line's own worker reads or writes that line's sales: the lock
// guards the map, and is not held while the line or the journal works.
std::optional<SalesJournal::Open> SalesJournal::Get(const Key& key) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(key);
    if (it == open_.end()) return std::nullopt;
    return it->second;
}

void SalesJournal::Put(const Key& key, const std::optional<Open>& open) {
    std::lock_guard lock(mutex_);
    if (open)
        open_[key] = *open;
    else
        open_.erase(key);
}

std::optional<std::int64_t> SalesJournal::OpenSale(int line, int dispenser, int nozzle) {
    const auto open = Get({line, dispenser, nozzle});
    return open ? std::optional<std::int64_t>(open->id) : std::nullopt;
}

void SalesJournal::FollowNozzle(LineContext& c, int dispenser, int nozzle, const PumpReading::Values& values,
                                std::uint8_t stateCode) {
    const host::StateKind kind = host::NameDispenserState(stateCode).kind;
    const Key key{c.line, dispenser, nozzle};
    std::optional<Open> open = Get(key);
    if (!open) {
        // Fuel flowing on a nozzle with no sale: a delivery started at the
        // dispenser, or before the service ran.
        if (kind == host::StateKind::Delivering) Put(key, Find(c, key, values));
        return;
    }
    if (open->reconcile) return Put(key, Reconcile(c, key, *open, values, Active(kind)));
    if (open->state == SaleState::Authorising) return;  // its start is being sent
    if (kind == host::StateKind::Delivering) {
        open->sawFlow = true;
        if (open->state != SaleState::Delivering &&
            Write("observe", open->id, [&] { journal_.Observe(open->id, SaleState::Delivering, now_()); }))
            open->state = SaleState::Delivering;
        return Put(key, open);
    }
    if (Ended(values.status) || kind == host::StateKind::Finished) return Put(key, End(c, key, *open, values, true));
    if (kind == host::StateKind::Idle) Put(key, End(c, key, *open, values, open->sawFlow));
}

// A sale an earlier run left open, or whose start got no answer: what is
// left open of it.
std::optional<SalesJournal::Open> SalesJournal::Reconcile(LineContext& c, const Key& key, Open open,
                                                          const PumpReading::Values& values, bool active) {
    std::string error;
    const auto total = ReadNozzleTotal(c, std::get<1>(key), std::get<2>(key), error);
    if (!total) return open;  // tried again at the next good poll
    journal::PresentState present{active, total, now_(), values.litres, values.money};
    bool closed = false;
    if (!Write("reconcile", open.id, [&] { closed = journal_.Reconcile(open.id, present); })) return open;
    if (closed) return std::nullopt;
    open.reconcile = false;
    open.sawFlow = true;  // busy now: the counters are its own from here on
    open.state = SaleState::Delivering;
    return open;
}

// The sale's end, written; what is left open of it (nothing once written).
std::optional<SalesJournal::Open> SalesJournal::End(LineContext& c, const Key& key, const Open& open,
                                                    const PumpReading::Values& values, bool countersOwn) {
    std::string error;
    const auto total = ReadNozzleTotal(c, std::get<1>(key), std::get<2>(key), error);
    const journal::SaleId id = open.id;
    if (!countersOwn) {
        // Idle without fuel seen: cancelled before it ran, unless the totals
        // moved (a delivery between two polls); the journal judges that.
        if (!total) return open;  // tried again at the next good poll
        if (!open.totalBefore || std::fabs(*total - *open.totalBefore) >= kHalfThousandth) {
            journal::PresentState present{false, total, now_(), values.litres, values.money};
            return Write("reconcile", id, [&] { journal_.Reconcile(id, present); }) ? std::nullopt
                                                                                    : std::optional<Open>(open);
        }
        journal::SaleEnd end{0.0, 0.0, total, true, now_(), std::nullopt};
        return Write("finish", id, [&] { journal_.Finish(id, end); }) ? std::nullopt : std::optional<Open>(open);
    }
    journal::SaleEnd end{
        values.litres, values.money,
        total,         values.status == kStatusStopped || ShortOfPreset(open.preset, values.litres, values.money),
        now_(),        std::nullopt};
    if (open.preset.kind == journal::PresetKind::None && total)
        end.totalBefore = std::round((*total - values.litres) * 1000.0) / 1000.0;
    if (!total) log_(LOG_WARNING, "sale " + std::to_string(id) + " ended without its total after: " + error);
    return Write("finish", id, [&] { journal_.Finish(id, end); }) ? std::nullopt : std::optional<Open>(open);
}

std::optional<SalesJournal::Open> SalesJournal::Find(LineContext& c, const Key& key,
                                                     const PumpReading::Values& values) {
    const auto [line, dispenser, nozzle] = key;
    std::string error;
    const auto total = ReadNozzleTotal(c, dispenser, nozzle, error);
    const auto pump = c.state.Pump(line, dispenser);
    const auto i = static_cast<std::size_t>(nozzle - 1);
    double price = pump && pump->price[i] ? *pump->price[i] : 0.0;
    if (price == 0.0 && values.litres > 0.0) price = std::round(values.money / values.litres * 100.0) / 100.0;
    // The total counts as the fuel flows: before the delivery it was the
    // total now less what the counters show so far.
    std::optional<double> before;
    if (total) before = std::round((*total - values.litres) * 1000.0) / 1000.0;
    journal::FoundDelivery found{{line, dispenser, nozzle}, price, before, now_()};
    journal::SaleId id = 0;
    try {
        id = journal_.Found(found);
    } catch (const journal::JournalError& e) {
        log_(LOG_ERR, std::string("sales journal: a delivery found on line ") + std::to_string(line) + " dispenser " +
                          std::to_string(dispenser) + " nozzle " + std::to_string(nozzle) + ": " + e.what());
        return std::nullopt;  // tried again at the next poll that sees it
    }
    Told(id);
    return Open{id, SaleState::Delivering, true, false, {}, before};
}

}  // namespace zarvik::service
