#include "journal/Journal.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "JournalDb.h"

namespace zarvik::journal {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE sales(
  id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused, also after a prune
  line INTEGER NOT NULL, dispenser INTEGER NOT NULL, nozzle INTEGER NOT NULL,
  preset_kind INTEGER NOT NULL, preset REAL NOT NULL, price REAL NOT NULL,
  authorised_here INTEGER NOT NULL,
  total_before REAL, total_after REAL, litres REAL, money REAL,
  state TEXT NOT NULL, cause TEXT NOT NULL DEFAULT '',
  started_at INTEGER NOT NULL, updated_at INTEGER NOT NULL,
  ended_at INTEGER, acknowledged_at INTEGER);
CREATE INDEX sales_state ON sales(state);
CREATE INDEX sales_ended ON sales(ended_at);
)";

// Version 2: when each ended sale was published (delivered at least once to
// its consumers), and the head-office command ids already taken.
constexpr const char* kSchema2 = R"(
ALTER TABLE sales ADD COLUMN published_at INTEGER;
CREATE INDEX sales_unpublished ON sales(ended_at) WHERE published_at IS NULL;
CREATE TABLE commands(id TEXT PRIMARY KEY, expires_at INTEGER NOT NULL);
)";

constexpr const char* kNotSent = "not sent before a restart";

int PragmaInt(sqlite3* db, const char* sql) {
    Statement statement(db, sql);
    return statement.Step() ? static_cast<int>(statement.Int(0)) : 0;
}

void CreateOrCheckSchema(sqlite3* db, const std::string& path) {
    Transaction transaction(db);
    const int version = PragmaInt(db, "PRAGMA user_version");
    if (version > kSchemaVersion)
        throw JournalError("sales journal " + path + ": written by a newer version (schema " + std::to_string(version) +
                           ")");
    // A new file gets version 1 and is then upgraded, as an older file is.
    if (version == 0) Exec(db, kSchema);
    if (version < 2) Exec(db, kSchema2);
    if (version < kSchemaVersion) Exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    transaction.Commit();
}

void Configure(sqlite3* db, const JournalOptions& options) {
    sqlite3_busy_timeout(db, static_cast<int>(options.busyTimeout.count()));
    Statement mode(db, "PRAGMA journal_mode = WAL");
    if (!mode.Step() || mode.Text(0) != "wal") throw JournalError("sales journal: WAL mode refused");
    Exec(db, "PRAGMA synchronous = FULL");
    if (options.maxPages) Exec(db, ("PRAGMA max_page_count = " + std::to_string(*options.maxPages)).c_str());
}

// The sale's state, inside the caller's transaction; throws when it is
// missing or not one of ALLOWED.
SaleState StateFor(sqlite3* db, SaleId id, std::initializer_list<SaleState> allowed, const char* doing) {
    Statement select(db, "SELECT state FROM sales WHERE id = ?");
    select.Bind(1, id);
    if (!select.Step()) throw JournalError("sales journal: " + std::string(doing) + ": no sale " + std::to_string(id));
    const auto state = StateFromName(select.Text(0));
    if (!state || std::find(allowed.begin(), allowed.end(), *state) == allowed.end())
        throw JournalError("sales journal: " + std::string(doing) + ": sale " + std::to_string(id) + " is " +
                           select.Text(0));
    return *state;
}

// Refuses a new sale when the journal's filesystem has less than RESERVE free.
void CheckRoom(const std::string& path, std::uint64_t reserve) {
    struct statvfs fs {};
    const std::string dir = std::filesystem::absolute(path).parent_path().string();
    if (reserve == 0 || statvfs(dir.c_str(), &fs) != 0) return;  // unknown: the write itself will tell
    const std::uint64_t free = std::uint64_t(fs.f_bavail) * fs.f_frsize;
    if (free < reserve)
        throw JournalFull("sales journal: disk full (" + std::to_string(free) + " bytes free, " +
                          std::to_string(reserve) + " kept for the sales under way): new sales refused");
}

bool Usable(std::optional<double> value) { return !value || std::isfinite(*value); }

// A value from the dispenser that is no number would be kept as no value at
// all (SQLite stores NaN as NULL): refused instead.
void CheckEnd(const SaleEnd& end) {
    if (!std::isfinite(end.litres) || !std::isfinite(end.money) || end.litres < 0 || end.money < 0 ||
        !Usable(end.totalAfter) || !Usable(end.totalBefore))
        throw JournalError("sales journal: finish: volume " + std::to_string(end.litres) + ", money " +
                           std::to_string(end.money) + " or the total after is no amount");
}

// To whole UNITs (0.001, 0.01), as the nearest double to the decimal: the
// division by the whole scale keeps 2.03 from becoming 2.0300000000000002.
double Round(double value, double unit) {
    const double scale = std::round(1.0 / unit);
    return std::round(value * scale) / scale;
}

SaleId Insert(sqlite3* db, const NozzleKey& where, const Preset& preset, double price, bool here,
              std::optional<double> totalBefore, SaleState state, WallTime at) {
    Transaction transaction(db);
    Statement insert(db,
                     "INSERT INTO sales(line, dispenser, nozzle, preset_kind, preset, price, authorised_here, "
                     "total_before, state, started_at, updated_at) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(1, std::int64_t{where.line}).Bind(2, std::int64_t{where.dispenser}).Bind(3, std::int64_t{where.nozzle});
    insert.Bind(4, static_cast<std::int64_t>(preset.kind)).Bind(5, preset.amount).Bind(6, price);
    insert.Bind(7, std::int64_t{here ? 1 : 0}).Bind(8, totalBefore).Bind(9, StateName(state));
    insert.Bind(10, ToMs(at)).Bind(11, ToMs(at)).Run();
    const SaleId id = sqlite3_last_insert_rowid(db);
    transaction.Commit();
    return id;
}

}  // namespace

Journal::Journal(std::unique_ptr<Db> db, std::string path, std::uint64_t reserveBytes)
    : db_(std::move(db)), path_(std::move(path)), reserveBytes_(reserveBytes) {}
Journal::~Journal() = default;
Journal::Journal(Journal&&) noexcept = default;
Journal& Journal::operator=(Journal&&) noexcept = default;

Journal Journal::Open(const std::string& path, const JournalOptions& options) {
    auto db = std::make_unique<Db>();
    const int rc = sqlite3_open_v2(path.c_str(), &db->handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db->handle, rc, "open " + path);
    Configure(db->handle, options);
    CreateOrCheckSchema(db->handle, path);
    return Journal(std::move(db), path, options.reserveBytes);
}

SaleId Journal::Begin(const NewSale& sale) {
    std::lock_guard lock(db_->mutex);
    CheckRoom(path_, reserveBytes_);
    return Insert(db_->handle, sale.where, sale.preset, sale.price, true, sale.totalBefore, SaleState::Authorising,
                  sale.at);
}

SaleId Journal::Found(const FoundDelivery& delivery) {
    std::lock_guard lock(db_->mutex);
    return Insert(db_->handle, delivery.where, Preset{}, delivery.price, false, delivery.totalBefore,
                  SaleState::Delivering, delivery.at);
}

void Journal::MarkSent(SaleId id, WallTime at) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    StateFor(db_->handle, id, {SaleState::Authorising}, "mark sent");
    Statement update(db_->handle, "UPDATE sales SET state = 'authorised', updated_at = ? WHERE id = ?");
    update.Bind(1, ToMs(at)).Bind(2, id).Run();
    transaction.Commit();
}

void Journal::MarkFailed(SaleId id, const std::string& cause, WallTime at) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    StateFor(db_->handle, id, {SaleState::Authorising, SaleState::Authorised}, "mark failed");
    Statement update(db_->handle,
                     "UPDATE sales SET state = 'failed', cause = ?, updated_at = ?, ended_at = ? WHERE id = ?");
    update.Bind(1, cause).Bind(2, ToMs(at)).Bind(3, ToMs(at)).Bind(4, id).Run();
    transaction.Commit();
}

void Journal::Observe(SaleId id, SaleState state, WallTime at) {
    if (state != SaleState::Authorised && state != SaleState::Delivering)
        throw JournalError(std::string("sales journal: observe: ") + StateName(state) + " is not a polled state");
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    const SaleState now = StateFor(db_->handle, id, {SaleState::Authorised, SaleState::Delivering}, "observe");
    // A delivery seen never goes back to merely authorised.
    const SaleState next = now == SaleState::Delivering ? now : state;
    Statement update(db_->handle, "UPDATE sales SET state = ?, updated_at = ? WHERE id = ?");
    update.Bind(1, StateName(next)).Bind(2, ToMs(at)).Bind(3, id).Run();
    transaction.Commit();
}

void Journal::Finish(SaleId id, const SaleEnd& end) {
    CheckEnd(end);
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    StateFor(db_->handle, id, {SaleState::Authorised, SaleState::Delivering}, "finish");
    Statement update(db_->handle,
                     "UPDATE sales SET state = ?, litres = ?, money = ?, total_after = ?, updated_at = ?, "
                     "ended_at = ?, total_before = COALESCE(?, total_before) WHERE id = ?");
    update.Bind(1, StateName(end.stopped ? SaleState::Stopped : SaleState::Finished)).Bind(2, end.litres);
    update.Bind(3, end.money).Bind(4, end.totalAfter).Bind(5, ToMs(end.at)).Bind(6, ToMs(end.at));
    update.Bind(7, end.totalBefore).Bind(8, id).Run();
    transaction.Commit();
}

std::vector<Sale> Journal::Restart(WallTime at) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    Statement fail(db_->handle,
                   "UPDATE sales SET state = 'failed', cause = ?, updated_at = ?, ended_at = ? "
                   "WHERE state = 'authorising'");
    fail.Bind(1, kNotSent).Bind(2, ToMs(at)).Bind(3, ToMs(at)).Run();
    std::vector<Sale> open;
    Statement select(db_->handle, std::string("SELECT ") + kSaleColumns +
                                      " FROM sales WHERE state IN ('authorised', 'delivering') ORDER BY id");
    while (select.Step()) open.push_back(ReadSale(select));
    transaction.Commit();
    return open;
}

namespace {

// What the totals say an open sale delivered, and how it is told.
struct Reconciled {
    std::optional<double> litres;
    std::optional<double> money;
    std::string cause;
};

constexpr double kSameVolume = 0.0005;  // half the meter's thousandth

Reconciled FromTotals(std::optional<double> before, double price, const PresentState& present) {
    if (!before || !present.total || !std::isfinite(*present.total))
        return {{}, {}, "reconciled without totals: volume unknown"};
    if (*present.total < *before) return {{}, {}, "reconciled: the nozzle's total went back, volume unknown"};
    const double litres = Round(*present.total - *before, 0.001);
    if (present.litres && present.money && std::fabs(*present.litres - litres) < kSameVolume)
        return {litres, Round(*present.money, 0.01), "reconciled from the nozzle's totals and counters"};
    return {litres, Round(litres * price, 0.01), "reconciled from the nozzle's totals"};
}

// An entry still authorising: its start went out when the nozzle is busy or
// its total moved since the entry was written.
bool StartWentOut(std::optional<double> before, const PresentState& present) {
    return present.active ||
           (before && present.total && std::isfinite(*present.total) && *present.total > *before + kSameVolume);
}

}  // namespace

bool Journal::Reconcile(SaleId id, const PresentState& present) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    const SaleState was =
        StateFor(db_->handle, id, {SaleState::Authorising, SaleState::Authorised, SaleState::Delivering}, "reconcile");
    Statement select(db_->handle, "SELECT total_before, price FROM sales WHERE id = ?");
    select.Bind(1, id).Step();
    const std::optional<double> before = select.OptReal(0);
    const double price = select.Real(1);
    if (was == SaleState::Authorising && !StartWentOut(before, present)) {
        Statement update(db_->handle,
                         "UPDATE sales SET state = 'failed', cause = ?, updated_at = ?, ended_at = ? WHERE id = ?");
        update.Bind(1, kNotSent).Bind(2, ToMs(present.at)).Bind(3, ToMs(present.at)).Bind(4, id).Run();
        transaction.Commit();
        return true;
    }
    if (present.active) {
        Statement update(db_->handle, "UPDATE sales SET state = 'delivering', updated_at = ? WHERE id = ?");
        update.Bind(1, ToMs(present.at)).Bind(2, id).Run();
        transaction.Commit();
        return false;
    }
    const Reconciled r = FromTotals(before, price, present);
    Statement update(db_->handle,
                     "UPDATE sales SET state = 'reconciled', litres = ?, money = ?, total_after = ?, cause = ?, "
                     "updated_at = ?, ended_at = ? WHERE id = ?");
    update.Bind(1, r.litres)
        .Bind(2, r.money)
        .Bind(3, Usable(present.total) ? present.total : std::nullopt)
        .Bind(4, r.cause)
        .Bind(5, ToMs(present.at));
    update.Bind(6, ToMs(present.at)).Bind(7, id).Run();
    transaction.Commit();
    return true;
}

}  // namespace zarvik::journal
