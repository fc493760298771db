// The journal's reads, its acknowledgement and its prune.
#include <string>

#include "JournalDb.h"

namespace zarvik::journal {
namespace {

std::optional<WallTime> OptTime(const Statement& row, int column) {
    const auto ms = row.OptInt(column);
    return ms ? std::optional(FromMs(*ms)) : std::nullopt;
}

// A WHERE clause of the filter's given fields, with the values to bind in order.
std::string FilterClause(const SaleFilter& filter, std::vector<std::int64_t>& values, std::string& stateName) {
    std::string where = " WHERE 1";
    if (filter.state) {
        where += " AND state = :state";
        stateName = StateName(*filter.state);
    }
    const auto add = [&](const char* clause, std::int64_t value) {
        where += clause;
        values.push_back(value);
    };
    if (filter.from) add(" AND started_at >= ?", ToMs(*filter.from));
    if (filter.to) add(" AND started_at < ?", ToMs(*filter.to));
    if (filter.line) add(" AND line = ?", *filter.line);
    if (filter.dispenser) add(" AND dispenser = ?", *filter.dispenser);
    if (filter.acknowledged)
        where += *filter.acknowledged ? " AND acknowledged_at IS NOT NULL" : " AND acknowledged_at IS NULL";
    return where;
}

}  // namespace

Sale ReadSale(const Statement& row) {
    Sale sale;
    sale.id = row.Int(0);
    sale.where = {static_cast<int>(row.Int(1)), static_cast<int>(row.Int(2)), static_cast<int>(row.Int(3))};
    sale.preset = {static_cast<PresetKind>(row.Int(4)), row.Real(5)};
    sale.price = row.Real(6);
    sale.authorisedHere = row.Int(7) != 0;
    sale.totalBefore = row.OptReal(8);
    sale.totalAfter = row.OptReal(9);
    sale.litres = row.OptReal(10);
    sale.money = row.OptReal(11);
    const auto state = StateFromName(row.Text(12));
    if (!state) throw JournalError("sales journal: sale " + std::to_string(sale.id) + " has an unknown state");
    sale.state = *state;
    sale.cause = row.Text(13);
    sale.startedAt = FromMs(row.Int(14));
    sale.updatedAt = FromMs(row.Int(15));
    sale.endedAt = OptTime(row, 16);
    sale.acknowledgedAt = OptTime(row, 17);
    return sale;
}

AckResult Journal::Acknowledge(SaleId id, WallTime at) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    Statement select(db_->handle, "SELECT state, acknowledged_at FROM sales WHERE id = ?");
    select.Bind(1, id);
    if (!select.Step()) return AckResult::NotFound;
    if (!select.IsNull(1)) return AckResult::Already;
    const auto state = StateFromName(select.Text(0));
    if (!state || !IsEnded(*state)) return AckResult::NotEnded;
    Statement update(db_->handle, "UPDATE sales SET acknowledged_at = ? WHERE id = ?");
    update.Bind(1, ToMs(at)).Bind(2, id).Run();
    transaction.Commit();
    return AckResult::Done;
}

int Journal::Prune(WallTime cutoff, bool keepUnpublished) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    Statement erase(db_->handle,
                    "DELETE FROM sales WHERE acknowledged_at IS NOT NULL AND ended_at < ? "
                    "AND (? = 0 OR published_at IS NOT NULL)");
    erase.Bind(1, ToMs(cutoff)).Bind(2, std::int64_t{keepUnpublished ? 1 : 0}).Run();
    const int count = erase.Changes();
    transaction.Commit();
    return count;
}

std::optional<Sale> Journal::Fetch(SaleId id) const {
    std::lock_guard lock(db_->mutex);
    Statement select(db_->handle, std::string("SELECT ") + kSaleColumns + " FROM sales WHERE id = ?");
    select.Bind(1, id);
    if (!select.Step()) return std::nullopt;
    return ReadSale(select);
}

std::vector<Sale> Journal::List(const SaleFilter& filter) const {
    std::vector<std::int64_t> values;
    std::string stateName;
    const std::string where = FilterClause(filter, values, stateName);
    std::lock_guard lock(db_->mutex);
    Statement select(db_->handle,
                     std::string("SELECT ") + kSaleColumns + " FROM sales" + where + " ORDER BY id LIMIT ?");
    int index = 1;
    if (filter.state) select.Bind(index++, std::string_view(stateName));
    for (const std::int64_t value : values) select.Bind(index++, value);
    select.Bind(index, std::int64_t{filter.limit});
    std::vector<Sale> sales;
    while (select.Step()) sales.push_back(ReadSale(select));
    return sales;
}

std::vector<NozzleTotal> Journal::Totals(WallTime from, WallTime to) const {
    std::lock_guard lock(db_->mutex);
    Statement select(db_->handle,
                     "SELECT line, dispenser, nozzle, COUNT(*), SUM(litres), SUM(COALESCE(money, 0)) FROM sales "
                     "WHERE litres IS NOT NULL AND ended_at >= ? AND ended_at < ? "
                     "GROUP BY line, dispenser, nozzle ORDER BY line, dispenser, nozzle");
    select.Bind(1, ToMs(from)).Bind(2, ToMs(to));
    std::vector<NozzleTotal> totals;
    while (select.Step()) {
        totals.push_back(
            {{static_cast<int>(select.Int(0)), static_cast<int>(select.Int(1)), static_cast<int>(select.Int(2))},
             static_cast<int>(select.Int(3)),
             select.Real(4),
             select.Real(5)});
    }
    return totals;
}

}  // namespace zarvik::journal
