// The sales journal: one SQLite file in WAL mode with synchronous=FULL, so a
// call that returns has its change on disk and a crash at any moment leaves
// each sale either as it was before the call or as the call left it.
//
// The order the service keeps: Begin (committed) → send the start → MarkSent
// or MarkFailed; each state a poll sees → Observe as soon as the poll returns;
// the end → Finish. On start: every sale still authorising, authorised or
// delivering is reconciled (Reconcile) from its dispenser's present state
// and total at its first good poll; Reconcile fails an entry still
// authorising unless the dispenser shows its start went out (never resent).
// Restart does the failing at once, for a caller that cannot ask the
// dispensers.
//
// Every writing call commits before it returns and throws JournalError when
// it could not (nothing of that call is then kept). A call on a sale that is
// missing, or that the call cannot apply to (an ended sale), throws
// JournalError too and changes nothing (Acknowledge answers instead). Reads
// never write. Calls may come from any thread; they take turns.
//
// Volume and money are the dispenser's own units (litres, currency) as
// doubles; times are stored to the millisecond.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "journal/Sale.h"

namespace zarvik::journal {

class JournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The disk (or the journal's size limit) is full: a new sale is refused.
// Updates of existing sales and reads are still tried.
class JournalFull : public JournalError {
public:
    using JournalError::JournalError;
};

// Files of an older version are upgraded when opened.
inline constexpr int kSchemaVersion = 2;

struct JournalOptions {
    std::chrono::milliseconds busyTimeout{5000};  // another connection holding the lock
    // Room kept free on the journal's filesystem for the sales already under
    // way (their ends, the write-ahead log up to its checkpoint): Begin is
    // refused below it.
    std::uint64_t reserveBytes = 16u << 20;
    std::optional<std::int64_t> maxPages;  // a size limit in pages (tests of a full disk)
};

// A new sale about to be started on the dispenser.
struct NewSale {
    NozzleKey where;
    Preset preset;
    double price = 0.0;
    std::optional<double> totalBefore;  // the nozzle's total read before the start, if read
    WallTime at;
};

// A delivery the service found on a nozzle without having started it.
struct FoundDelivery {
    NozzleKey where;
    double price = 0.0;
    std::optional<double> totalBefore;
    WallTime at;
};

// The end of a sale as the dispenser reported it.
struct SaleEnd {
    double litres = 0.0;
    double money = 0.0;
    std::optional<double> totalAfter;
    bool stopped = false;  // stopped before its dose: Stopped, else Finished
    WallTime at;
    // A found delivery's total before it, known exactly only at its end
    // (total after − volume): replaces the estimate written when found.
    std::optional<double> totalBefore;
};

// What the dispenser shows now for the sale's nozzle, read on a restart.
struct PresentState {
    bool active = false;          // authorised or delivering on that nozzle now
    std::optional<double> total;  // the nozzle's litres total now, if read
    WallTime at;
    // The nozzle's delivery counters now, if polled: they are the sale's own
    // when their volume is the totals' difference, and then give its money.
    std::optional<double> litres;
    std::optional<double> money;
};

struct SaleFilter {
    std::optional<SaleState> state;
    std::optional<WallTime> from;  // started at or after
    std::optional<WallTime> to;    // started before
    std::optional<int> line;
    std::optional<int> dispenser;
    std::optional<bool> acknowledged;
    int limit = 1000;
};

struct NozzleTotal {
    NozzleKey where;
    int sales = 0;
    double litres = 0.0;
    double money = 0.0;
};

enum class AckResult { Done, Already, NotFound, NotEnded };

class Journal {
public:
    // Opens or creates the file and its schema; refuses a file written by a
    // newer schema. Throws JournalError with the file and the cause.
    static Journal Open(const std::string& path, const JournalOptions& options = {});
    ~Journal();
    Journal(Journal&&) noexcept;
    Journal& operator=(Journal&&) noexcept;

    // Writes the sale as authorising (not yet sent) and commits; the caller
    // sends the start only after this returns. JournalFull when the disk is
    // full or has less than the reserve free (nothing written): the caller
    // must refuse the sale.
    SaleId Begin(const NewSale& sale);
    // The start went out and the dispenser took it: authorised, committed.
    // Only from authorising.
    void MarkSent(SaleId id, WallTime at);
    // The start was not sent, or the dispenser refused it: failed with the
    // cause and ended, committed. From authorising or authorised.
    void MarkFailed(SaleId id, const std::string& cause, WallTime at);
    // A state a poll saw (authorised or delivering) on an open, sent sale,
    // committed; a sale seen delivering stays delivering.
    void Observe(SaleId id, SaleState state, WallTime at);
    // The end with its volume, money and total after: finished or stopped
    // and ended, all in one commit. From authorised or delivering. A volume or
    // money below zero or not a number is refused (nothing written).
    void Finish(SaleId id, const SaleEnd& end);
    // A delivery not started here, committed as delivering with no preset;
    // then Observe/Finish as any sale. Not held back by the reserve (it
    // records fuel already flowing); JournalFull only when nothing fits.
    SaleId Found(const FoundDelivery& delivery);

    // On start: every entry never sent becomes failed ("not sent before a
    // restart"), in one commit; returns the open sales left (authorised or
    // delivering), oldest first. Safe to call again.
    std::vector<Sale> Restart(WallTime at);
    // Closes an open sale from the nozzle's present state: still active →
    // recorded as delivering and left open (false); else reconciled with
    // litres = total now − total before and money = litres × price, or the
    // counters' money when they show that volume (true). Without both
    // totals, or with a total that went back, it is reconciled with no
    // volume and the cause says why. An entry still authorising (its start
    // may or may not have gone out) counts as sent when the nozzle is active
    // or its total moved, else it is failed as never sent. Either outcome is
    // one commit.
    bool Reconcile(SaleId id, const PresentState& present);

    // Marks an ended sale taken by its consumer, committed (Done); changes
    // nothing otherwise.
    AckResult Acknowledge(SaleId id, WallTime at);
    // Deletes acknowledged sales that ended before CUTOFF in one commit;
    // returns how many. Ids are never given again. KEEP_UNPUBLISHED (a
    // station that publishes its sales): sales not yet published stay until
    // they are, however old.
    int Prune(WallTime cutoff, bool keepUnpublished = false);

    // Ended sales not yet marked published, oldest end first, at most LIMIT.
    std::vector<Sale> Unpublished(int limit) const;
    // The sale's consumers have it (the broker acknowledged it), committed;
    // a sale already marked keeps its first time. Throws for a missing or
    // open sale (nothing written).
    void MarkPublished(SaleId id, WallTime at);

    // Takes a head-office command's id until EXPIRES, committed: false when
    // the id was taken before and has not expired by NOW (a repeat: refuse
    // it). Ids expired by NOW are forgotten, so the caller must refuse a
    // command that has expired before asking.
    bool RememberCommand(const std::string& id, WallTime expires, WallTime now);

    std::optional<Sale> Fetch(SaleId id) const;
    // Sales matching every given field, oldest first, at most filter.limit.
    std::vector<Sale> List(const SaleFilter& filter) const;
    // Per nozzle: the sales that ended in [from, to) with a volume.
    std::vector<NozzleTotal> Totals(WallTime from, WallTime to) const;

private:
    struct Db;
    Journal(std::unique_ptr<Db> db, std::string path, std::uint64_t reserveBytes);
    std::unique_ptr<Db> db_;
    std::string path_;
    std::uint64_t reserveBytes_ = 0;
};

}  // namespace zarvik::journal
