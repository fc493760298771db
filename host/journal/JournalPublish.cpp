// What the journal keeps for its publication to head office: which ended
// sales have been delivered, and the command ids already taken.
#include <string>

#include "JournalDb.h"

namespace zarvik::journal {

std::vector<Sale> Journal::Unpublished(int limit) const {
    std::lock_guard lock(db_->mutex);
    Statement select(db_->handle, std::string("SELECT ") + kSaleColumns +
                                      " FROM sales WHERE ended_at IS NOT NULL AND published_at IS NULL "
                                      "ORDER BY ended_at, id LIMIT ?");
    select.Bind(1, std::int64_t{limit});
    std::vector<Sale> sales;
    while (select.Step()) sales.push_back(ReadSale(select));
    return sales;
}

void Journal::MarkPublished(SaleId id, WallTime at) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    Statement select(db_->handle, "SELECT ended_at FROM sales WHERE id = ?");
    select.Bind(1, id);
    if (!select.Step()) throw JournalError("sales journal: mark published: no sale " + std::to_string(id));
    if (select.IsNull(0))
        throw JournalError("sales journal: mark published: sale " + std::to_string(id) + " has not ended");
    Statement update(db_->handle, "UPDATE sales SET published_at = ? WHERE id = ? AND published_at IS NULL");
    update.Bind(1, ToMs(at)).Bind(2, id).Run();
    transaction.Commit();
}

bool Journal::RememberCommand(const std::string& id, WallTime expires, WallTime now) {
    std::lock_guard lock(db_->mutex);
    Transaction transaction(db_->handle);
    Statement prune(db_->handle, "DELETE FROM commands WHERE expires_at < ?");
    prune.Bind(1, ToMs(now)).Run();
    Statement insert(db_->handle, "INSERT OR IGNORE INTO commands(id, expires_at) VALUES(?, ?)");
    insert.Bind(1, std::string_view(id)).Bind(2, ToMs(expires)).Run();
    const bool fresh = insert.Changes() == 1;
    transaction.Commit();
    return fresh;
}

}  // namespace zarvik::journal
