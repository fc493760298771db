// The sales journal's hand on the lines. As the service's SaleRecorder it
// writes each sale the service authorises to the journal before the sale's
// first command is sent (with the nozzle's total read just before), marks it
// sent or failed from the answers, follows every sale through the polls of
// its dispenser (delivering, then its end with the nozzle's own counters and
// total), journals deliveries it did not start from what the polls see, and
// closes what an earlier run left open on its dispenser's first good poll
// (Recover, then Journal::Reconcile from the present state and totals). A
// start that got no answer is judged the same way on the next good poll.
//
// Every change is told to the observers after its commit. Runs on the line
// workers (each line's calls in order); its map of open sales has a lock.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "journal/Journal.h"
#include "service/Control.h"

namespace zarvik::service {

class SalesJournal final : public SaleRecorder {
public:
    using Changed = std::function<void(const journal::Sale&)>;
    using Clock = std::function<WallTime()>;

    SalesJournal(
        journal::Journal& journal, LogFunction log, Clock now = [] { return std::chrono::system_clock::now(); });

    // Before the workers start: the sales an earlier run left open (or never
    // knew sent) wait for their dispenser's first good poll. Returns how many.
    std::size_t Recover();
    // Before the workers start; told of every sale written, after its commit.
    void OnChanged(Changed observer) { observers_.push_back(std::move(observer)); }
    // Fault injection for the crash test: waits this long between the
    // commit of a new sale and its first command.
    void PauseAfterCommit(std::chrono::milliseconds pause) { pause_ = pause; }

    void Sending(LineContext& c, const SaleCommand& command) override;
    void Answered(LineContext& c, const SaleCommand& command, Answer answer, const std::string& cause) override;
    void Polled(LineContext& c, const host::StationDispenser& d, const PumpReading& reading) override;
    std::optional<std::int64_t> OpenSale(int line, int dispenser, int nozzle) override;

private:
    using Key = std::tuple<int, int, int>;  // line, dispenser, nozzle
    struct Open {
        journal::SaleId id = 0;
        journal::SaleState state = journal::SaleState::Authorising;
        bool sawFlow = false;    // seen delivering: the counters are its own
        bool reconcile = false;  // left by an earlier run, or its start got no answer
        journal::Preset preset;
        std::optional<double> totalBefore;
    };

    void Begin(LineContext& c, const SaleCommand& command);
    std::optional<Open> Get(const Key& key);
    void Put(const Key& key, const std::optional<Open>& open);
    void FollowNozzle(LineContext& c, int dispenser, int nozzle, const PumpReading::Values& values,
                      std::uint8_t stateCode);
    std::optional<Open> Reconcile(LineContext& c, const Key& key, Open open, const PumpReading::Values& values,
                                  bool active);
    std::optional<Open> End(LineContext& c, const Key& key, const Open& open, const PumpReading::Values& values,
                            bool countersOwn);
    std::optional<Open> Find(LineContext& c, const Key& key, const PumpReading::Values& values);
    void Told(journal::SaleId id);
    // Runs a journal write; a failure is logged and false returned.
    bool Write(const char* doing, journal::SaleId id, const std::function<void()>& write);

    journal::Journal& journal_;
    const LogFunction log_;
    const Clock now_;
    std::vector<Changed> observers_;
    std::chrono::milliseconds pause_{0};
    std::mutex mutex_;
    std::map<Key, Open> open_;
};

}  // namespace zarvik::service
