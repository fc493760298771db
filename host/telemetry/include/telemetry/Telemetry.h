// The station's telemetry to head office over MQTT (libmosquitto), under the
// configured prefix:
//   <prefix>/status                   "online" / "offline" (retained; "offline" is the last will)
//   <prefix>/pumps/<line>/<dispenser> the pump document (retained)
//   <prefix>/lines/<line>             the line document when its health or fault changes (retained)
//   <prefix>/transactions/<id>        every ended sale, QoS 1 (Messages.h)
//   <prefix>/totals                   the totals document, on schedule and on command (retained)
//   <prefix>/commands                 head office's commands (subscribed)
//   <prefix>/replies                  one reply per command
//
// Sales are published from the journal: each ended sale not yet marked is
// sent at QoS 1 and marked published only when the broker acknowledged it;
// unacknowledged ones are sent again (after a reconnect, a restart), so every
// sale arrives at least once and consumers drop repeats by its id.
//
// One worker thread does all publishing and journal work, so the calls
// below never block on the network; libmosquitto's own thread reconnects
// with a growing delay.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "journal/Journal.h"
#include "telemetry/Commands.h"
#include "telemetry/Settings.h"

namespace zarvik::telemetry {

using Log = std::function<void(int priority, std::string_view message)>;  // syslog priorities

// The totals document as JSON text; throws with the cause when it cannot be read.
using TotalsSource = std::function<std::string()>;

// A line's document and what counts as a change of it (its health and fault).
struct LineReport {
    int line = 0;
    std::string key;
    std::string document;
};
using LinesSource = std::function<std::vector<LineReport>()>;

// A sale's document as JSON text (the service's transaction document).
using SaleDocument = std::function<std::string(const journal::Sale&)>;

struct TelemetryCounts {
    std::uint64_t salesSent = 0;    // publications of sales (repeats included)
    std::uint64_t salesMarked = 0;  // sales marked published
    std::uint64_t commands = 0;     // commands answered
    std::uint64_t messages = 0;     // every publication
};

class Telemetry {
public:
    // JOURNAL (may be null: no sales, commands refused) and PRICES outlive
    // this object.
    Telemetry(TelemetrySettings settings, journal::Journal* journal, PriceSetter& prices, TotalsSource totals,
              LinesSource lines, SaleDocument saleDocument, Log log);
    ~Telemetry();
    Telemetry(const Telemetry&) = delete;
    Telemetry& operator=(const Telemetry&) = delete;

    void Start();  // throws with the cause when the client cannot be set up
    void Stop();   // "offline", then disconnects; idempotent

    // The pump's latest document: published (retained) soon, only the latest
    // when several come quickly. Never blocks (callable under a lock).
    void PumpChanged(int line, int dispenser, std::string document);
    // A sale ended in the journal: publish it now rather than on the next tick.
    void SaleEnded();

    TelemetryCounts Counts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The journal as the register of command ids.
class JournalCommandRegister final : public CommandRegister {
public:
    explicit JournalCommandRegister(journal::Journal& journal) : journal_(journal) {}
    bool Remember(const std::string& id, WallTime expires, WallTime now) override {
        return journal_.RememberCommand(id, expires, now);
    }

private:
    journal::Journal& journal_;
};

}  // namespace zarvik::telemetry
