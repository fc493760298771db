#include "Database.h"

namespace zarvik::journal {

void ThrowSqlite(sqlite3* db, int code, std::string_view doing) {
    std::string text =
        "sales journal: " + std::string(doing) + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    if ((code & 0xff) == SQLITE_FULL) throw JournalFull(text + " (disk full)");
    throw JournalError(text);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc, "prepare");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    sqlite3_bind_double(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::Bind(int index, std::optional<double> value) {
    return value ? Bind(index, *value) : BindNull(index);
}

Statement& Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(db_, rc, "write");
}

std::optional<double> Statement::OptReal(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Real(column);
}

std::optional<std::int64_t> Statement::OptInt(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Int(column);
}

std::string Statement::Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

void Exec(sqlite3* db, const char* sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc, sql);
}

Transaction::Transaction(sqlite3* db) : db_(db) { Exec(db, "BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
    Exec(db_, "COMMIT");
    done_ = true;
}

std::int64_t ToMs(WallTime at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

WallTime FromMs(std::int64_t ms) {
    return WallTime(std::chrono::duration_cast<WallTime::duration>(std::chrono::milliseconds(ms)));
}

}  // namespace zarvik::journal
