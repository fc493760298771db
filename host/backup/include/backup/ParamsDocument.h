// The parameter dump file: what params-dump writes and params-restore reads.
//
// A JSON object:
//   "format": "zarvik-params-dump", "version": 2,
//   "address": bus address 1..255, "row": row 1..99 whose values it holds,
//   "tables": [{"number", "name", "rows",
//               "fields": [{"number", "name", "type", "size", "low", "high", "value"}]}],
//   "checksum": "crc32:xxxxxxxx"
// Tables and fields are numbered from 1 (at most 99 of each: a parameter code
// names no more); "size" is the value width in bytes (0..4), "low" and "high"
// the limits as the dispenser describes them (unsigned, within the width).
// "value" is the raw unsigned value of the row, null where the table has no
// such row or the field has no value bytes (size 0).
//
// The checksum is CRC-32 (the polynomial of zlib and PNG, 8 lower-case hex
// digits) of the document without its "checksum" member, written compactly
// with sorted keys and UTF-8 as it stands (nlohmann::json's dump()).
// Whitespace and the order of members do not change it; any change of a
// name, number or value does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::host {

inline constexpr const char* kDumpFormat = "zarvik-params-dump";
inline constexpr int kDumpVersion = 2;
// A dump of 99 tables of 99 fields with the longest names stays below 5 MiB.
inline constexpr std::uintmax_t kMaxDumpFileBytes = 8u << 20;
inline constexpr int kMaxTables = 99;
inline constexpr int kMaxFields = 99;
inline constexpr int kMaxRow = 99;

struct DumpField {
    int number = 0;
    std::string name;  // UTF-8
    int type = 0;      // the dispenser's type code, passed on as given
    int size = 0;      // value width in bytes, 0..4
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    // Raw value; nullopt where the row or the value bytes do not exist. As
    // read from a file it may lie outside the width (the rules say so).
    std::optional<std::int64_t> value;
    // False when the file gave this field's description members wrongly
    // typed; later checks then leave it out (the reader reported it).
    bool sound = true;
};

struct DumpTable {
    int number = 0;
    std::string name;  // UTF-8
    int rows = 0;
    std::vector<DumpField> fields;  // field n at index n - 1 in a dump
    bool sound = true;
};

struct ParamsDump {
    int address = 0;
    int row = 0;
    std::vector<DumpTable> tables;  // table n at index n - 1 in a dump
};

// One problem found in a file: its JSON pointer ("/tables/1/fields/3/value",
// "" for the whole document) and what is wrong.
struct Problem {
    std::string path;
    std::string text;
};
// "PATH: TEXT", or TEXT alone for the whole document.
std::string Describe(const Problem& problem);

// CRC-32 (reflected, polynomial 0xEDB88320, initial and final value all ones).
std::uint32_t Crc32(std::string_view bytes);

// The file's text for a dump, checksum included; ends with a newline.
std::string DumpText(const ParamsDump& dump);

struct ReadOptions {
    bool ignoreChecksum = false;  // accept a missing or mismatched checksum (an edited file)
};

struct DumpReading {
    // Present when the document's skeleton could be read (address, row,
    // tables and fields as arrays of objects); fields whose members were
    // wrongly typed are marked unsound.
    std::optional<ParamsDump> dump;
    std::vector<Problem> problems;  // every one found; empty for a good file
};

// Reads a dump from text: JSON syntax, nesting, every member's type and
// range, numbering, the values' presence, and the checksum. Values are not
// checked against widths and limits here (ParamsRules.h does that). Never
// throws for any bytes.
DumpReading ReadDumpText(std::string_view text, const ReadOptions& options = {});
// The same from a file; a file larger than kMaxDumpFileBytes is refused
// before it is read, and no more than that is ever read.
DumpReading ReadDumpFile(const std::filesystem::path& path, const ReadOptions& options = {});

}  // namespace zarvik::host
