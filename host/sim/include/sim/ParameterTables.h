// The dispenser's parameter tables: names, row counts, field descriptions and
// the values each bus address keeps. Table numbers, rows and fields count from
// 1. A value is stored as its `width`-byte raw number; a field of type
// kTypeSigned compares it against its limits as a signed number of that width.
//
// Table 2 holds one row per nozzle byte (row r = nozzle byte r - 1) and its
// field 21 is the nozzle's volume correction coefficient e, a signed 16-bit
// number (0 = no correction).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zarvik::sim {

inline constexpr std::uint8_t kTypeUnsigned = 0;
inline constexpr std::uint8_t kTypeSigned = 1;

inline constexpr int kCoefficientTable = 2;
inline constexpr int kCoefficientField = 21;

struct FieldSpec {
    std::string name;  // UTF-8; sent in code page 1251
    std::uint8_t type = kTypeUnsigned;
    std::uint8_t width = 2;  // 1..4 bytes
    std::uint32_t low = 0;   // raw width-byte limits
    std::uint32_t high = 0xFFFF;
    std::uint32_t initial = 0;  // value of every row at start
};

struct TableSpec {
    std::string name;  // UTF-8; sent in code page 1251
    std::uint16_t rows = 1;
    std::vector<FieldSpec> fields;  // field n at index n - 1
};

using TableSet = std::map<int, TableSpec>;  // by table number

// The built-in tables: table 1 with 12 fields and 3 rows, table 2 with
// `nozzleRows` rows and 21 fields (21 = coefficient), table 3 with one row.
TableSet DefaultTables(std::uint16_t nozzleRows);

// True when `value` (raw, `width` bytes) lies within the field's limits, read
// as signed numbers for kTypeSigned.
bool WithinLimits(const FieldSpec& field, std::uint32_t value);

// The limits a field description carries. The protocol's limits are unsigned
// width-byte numbers (zero-extended by the host), so a dispenser describes a
// signed field by the whole width, 0..2^(8w)-1, and keeps its signed range
// to itself (WithinLimits); an unsigned field by its own limits.
struct DescribedLimits {
    std::uint32_t low;
    std::uint32_t high;
};
DescribedLimits Describe(const FieldSpec& field);

// Values of one bus address, created from the tables' initial values.
class ParameterStore {
public:
    explicit ParameterStore(const TableSet* tables) : tables_(tables) {}

    const TableSpec* Table(int table) const;
    const FieldSpec* Field(int table, int field) const;  // nullptr when absent

    // nullopt when the table, row or field does not exist.
    std::optional<std::uint32_t> Get(int table, int row, int field) const;
    // Stores without checking limits; false when the cell does not exist.
    bool Set(int table, int row, int field, std::uint32_t value);

private:
    static std::uint32_t Key(int table, int row, int field) {
        return static_cast<std::uint32_t>(table) << 24 | static_cast<std::uint32_t>(row) << 8 |
               static_cast<std::uint32_t>(field);
    }
    const TableSet* tables_;
    std::map<std::uint32_t, std::uint32_t> changed_;  // cells that differ from the initial value
};

}  // namespace zarvik::sim
