// The journal's connection and what its writing and reading halves share.
// One mutex serialises every call: a transaction never meets another
// thread's statements on the one connection.
#pragma once

#include <initializer_list>
#include <mutex>

#include "Database.h"

namespace zarvik::journal {

struct Journal::Db {
    sqlite3* handle = nullptr;
    std::mutex mutex;
    ~Db() { sqlite3_close_v2(handle); }
};

// The columns Sale reads, in ReadSale's order.
inline constexpr const char* kSaleColumns =
    "id, line, dispenser, nozzle, preset_kind, preset, price, authorised_here, total_before, total_after, "
    "litres, money, state, cause, started_at, updated_at, ended_at, acknowledged_at";

Sale ReadSale(const Statement& row);

}  // namespace zarvik::journal
