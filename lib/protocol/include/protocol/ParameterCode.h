// Parameter codes: the 32-bit name of one dispenser parameter value,
// 1000000 + table x 10000 + row x 100 + field (tables, rows and fields from 1
// to 99), and the parameter address a read or write request carries.
//
// The window and the calibration dialog pack a code; the driver unpacks it
// with signed integer division, dropping the millions digit whatever it is,
// and keeps the low 8 bits of table, row and field. The row travels as two
// bytes whose high byte is always 0, also for a negative code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarvik::protocol {

inline constexpr std::int32_t kParameterCodeBase = 1000000;
inline constexpr std::int32_t kTableStep = 10000;
inline constexpr std::int32_t kRowStep = 100;

// Computed in 64 bits and kept to 32, so no row the caller has overflows.
constexpr std::int32_t PackParameterCode(std::int32_t table, std::int32_t row, std::int32_t field) {
    return static_cast<std::int32_t>(std::int64_t{kParameterCodeBase} + std::int64_t{table} * kTableStep +
                                     std::int64_t{row} * kRowStep + field);
}

struct ParameterAddress {
    std::uint8_t table;
    std::uint8_t row;  // the low byte; the high byte on the wire is 0
    std::uint8_t field;
};

constexpr ParameterAddress UnpackParameterCode(std::int32_t code) {
    const std::int32_t table = (code % kParameterCodeBase) / kTableStep;
    const std::int32_t row = (code % kTableStep) / kRowStep;
    const std::int32_t field = code % kRowStep;
    return {static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(field)};
}

// The parameter address in a 0x1F/0x1E request: table, row (2 bytes,
// little-endian), field. Writes 4 bytes at `at` and returns 4.
inline constexpr std::size_t kParameterAddressSize = 4;
constexpr std::size_t PutParameterAddress(std::uint8_t* at, const ParameterAddress& where) {
    at[0] = where.table;
    at[1] = where.row;
    at[2] = 0;
    at[3] = where.field;
    return kParameterAddressSize;
}

}  // namespace zarvik::protocol
