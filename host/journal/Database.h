// A thin hold on SQLite for the journal: a connection, prepared statements
// with bound values, and a transaction that rolls back unless committed.
// Every failure throws JournalError (JournalFull for SQLITE_FULL) naming what
// was being done.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "journal/Journal.h"

namespace zarvik::journal {

[[noreturn]] void ThrowSqlite(sqlite3* db, int code, std::string_view doing);

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, std::string_view value);
    Statement& Bind(int index, std::optional<double> value);
    Statement& BindNull(int index);

    bool Step();  // true: a row is ready
    void Run() {
        while (Step()) {
        }
    }
    int Changes() const { return sqlite3_changes(db_); }

    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    double Real(int column) const { return sqlite3_column_double(stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::optional<double> OptReal(int column) const;
    std::optional<std::int64_t> OptInt(int column) const;
    std::string Text(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void Exec(sqlite3* db, const char* sql);

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without Commit.
class Transaction {
public:
    explicit Transaction(sqlite3* db);
    ~Transaction();
    void Commit();

private:
    sqlite3* db_;
    bool done_ = false;
};

std::int64_t ToMs(WallTime at);
WallTime FromMs(std::int64_t ms);

}  // namespace zarvik::journal
