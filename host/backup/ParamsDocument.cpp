#include "backup/ParamsDocument.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

namespace zarvik::host {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr const char* kChecksumPrefix = "crc32:";
constexpr std::size_t kChecksumDigits = 8;
// Document 0, "tables" 1, a table 2, "fields" 3, a field 4, a member 5.
constexpr int kMaxDepth = 6;

// Thrown by the parser callback; caught in ReadDumpText.
struct TooDeep {};

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string Pointer(const std::string& base, const std::string& member) { return base + "/" + member; }
std::string Pointer(const std::string& base, std::size_t index) { return base + "/" + std::to_string(index); }

// A JSON value as the problem texts show it: short, on one line.
std::string Shown(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

std::string Canonical(json document) {
    document.erase("checksum");
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Walks a parsed document, collecting every problem.
class Reader {
public:
    std::vector<Problem> problems;

    void Add(std::string path, std::string text) { problems.push_back({std::move(path), std::move(text)}); }

    // Reports members that a dump does not have.
    void OnlyMembers(const json& object, const std::string& path, std::initializer_list<const char*> known) {
        for (const auto& [key, value] : object.items()) {
            bool found = false;
            for (const char* k : known) found = found || key == k;
            if (!found) Add(Pointer(path, key), "not a member of a parameter dump");
        }
    }

    // A whole number member within lo..hi; nullopt (and a problem) otherwise.
    std::optional<std::int64_t> Number(const json& object, const char* key, const std::string& path, std::int64_t lo,
                                       std::int64_t hi) {
        const std::string at = Pointer(path, key);
        const auto it = object.find(key);
        if (it == object.end()) {
            Add(at, "missing");
            return std::nullopt;
        }
        const auto value = WholeNumber(*it, at);
        if (value && (*value < lo || *value > hi)) {
            Add(at, std::to_string(*value) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
            return std::nullopt;
        }
        return value;
    }

    std::optional<std::int64_t> WholeNumber(const json& value, const std::string& at) {
        if (value.is_number_unsigned()) {
            const auto u = value.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                Add(at, Shown(value) + " is larger than any field holds");
                return std::nullopt;
            }
            return static_cast<std::int64_t>(u);
        }
        if (value.is_number_integer()) return value.get<std::int64_t>();
        Add(at, "a whole number is expected, not " + Shown(value));
        return std::nullopt;
    }

    std::optional<std::string> Text(const json& object, const char* key, const std::string& path) {
        const std::string at = Pointer(path, key);
        const auto it = object.find(key);
        if (it == object.end()) {
            Add(at, "missing");
            return std::nullopt;
        }
        if (!it->is_string()) {
            Add(at, "a text is expected, not " + Shown(*it));
            return std::nullopt;
        }
        return it->get<std::string>();
    }

    // An array member of at most `most` elements; nullptr (and a problem) otherwise.
    const json* Array(const json& object, const char* key, const std::string& path, std::size_t most) {
        const std::string at = Pointer(path, key);
        const auto it = object.find(key);
        if (it == object.end()) {
            Add(at, "missing");
            return nullptr;
        }
        if (!it->is_array()) {
            Add(at, "an array is expected, not " + Shown(*it));
            return nullptr;
        }
        if (it->size() > most) {
            Add(at, std::to_string(it->size()) + " entries; a dump has at most " + std::to_string(most));
            return nullptr;
        }
        return &*it;
    }

    // The "number" of the index-th table or field is its place: 1, 2, ...
    void InPlace(const json& o, const std::string& path, std::size_t index, std::int64_t most,
                 const std::string& what) {
        const auto number = Number(o, "number", path, 1, most);
        if (number && *number != static_cast<std::int64_t>(index + 1))
            Add(Pointer(path, "number"), what + " " + std::to_string(*number) + " stands where " + what + " " +
                                             std::to_string(index + 1) + " belongs (" + what +
                                             "s are numbered 1, 2, ...)");
    }

    DumpField Field(const json& f, const std::string& path, std::size_t index, int row, int rows) {
        DumpField field;
        const std::size_t before = problems.size();
        if (!f.is_object()) {
            Add(path, "a field object is expected, not " + Shown(f));
            field.sound = false;
            return field;
        }
        OnlyMembers(f, path, {"number", "name", "type", "size", "low", "high", "value"});
        InPlace(f, path, index, kMaxFields, "field");
        const auto name = Text(f, "name", path);
        const auto type = Number(f, "type", path, 0, 255);
        const auto size = Number(f, "size", path, 0, 4);
        const std::int64_t top = size ? (std::int64_t{1} << (8 * *size)) - 1 : 0xFFFFFFFF;
        const auto low = Number(f, "low", path, 0, top);
        const auto high = Number(f, "high", path, 0, top);
        field.number = static_cast<int>(index + 1);
        if (name) field.name = *name;
        if (type) field.type = static_cast<int>(*type);
        if (size) field.size = static_cast<int>(*size);
        if (low) field.low = static_cast<std::uint32_t>(*low);
        if (high) field.high = static_cast<std::uint32_t>(*high);
        field.sound = problems.size() == before;

        const std::string at = Pointer(path, "value");
        const auto it = f.find("value");
        // A row the table does not have and a field without value bytes hold
        // no value; with no sound row (0) only the value's type is checked.
        const bool holds = row != 0 && row <= rows && (!size || *size > 0);
        if (it == f.end()) {
            Add(at, "missing (null where there is no value)");
        } else if (it->is_null()) {
            if (holds && size) Add(at, "null, but row " + std::to_string(row) + " of this field has a value");
        } else if (const auto value = WholeNumber(*it, at)) {
            if (row == 0)
                field.value = *value;
            else if (row > rows)
                Add(at, "a value for row " + std::to_string(row) + ", which this table (" + std::to_string(rows) +
                            " rows) does not have");
            else if (size && *size == 0)
                Add(at, "a value for a field without value bytes");
            else
                field.value = *value;
        }
        return field;
    }

    DumpTable Table(const json& t, const std::string& path, std::size_t index, int row) {
        DumpTable table;
        table.number = static_cast<int>(index + 1);
        if (!t.is_object()) {
            Add(path, "a table object is expected, not " + Shown(t));
            table.sound = false;
            return table;
        }
        const std::size_t before = problems.size();
        OnlyMembers(t, path, {"number", "name", "rows", "fields"});
        InPlace(t, path, index, kMaxTables, "table");
        const auto name = Text(t, "name", path);
        const auto rows = Number(t, "rows", path, 0, 65535);
        if (name) table.name = *name;
        if (rows) table.rows = static_cast<int>(*rows);
        const json* fields = Array(t, "fields", path, kMaxFields);
        table.sound = problems.size() == before;
        if (fields == nullptr) {
            table.sound = false;
            return table;
        }
        // Without a sound row count no value can be judged present or absent.
        const int judgedRows = rows ? table.rows : std::numeric_limits<int>::max();
        for (std::size_t i = 0; i < fields->size(); ++i)
            table.fields.push_back(Field((*fields)[i], Pointer(Pointer(path, "fields"), i), i, row, judgedRows));
        return table;
    }

    void Checksum(const json& document, const ReadOptions& options) {
        const auto it = document.find("checksum");
        if (it == document.end()) {
            if (!options.ignoreChecksum) Add("/checksum", "missing (a dump written by params-dump carries one)");
            return;
        }
        std::string given = it->is_string() ? it->get<std::string>() : std::string();
        const std::string prefix = kChecksumPrefix;
        if (given.size() != prefix.size() + kChecksumDigits || given.compare(0, prefix.size(), prefix) != 0 ||
            given.find_first_not_of("0123456789abcdefABCDEF", prefix.size()) != std::string::npos) {
            Add("/checksum", "\"crc32:\" and 8 hex digits are expected, not " + Shown(*it));
            return;
        }
        for (auto& c : given) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string computed = prefix + Hex8(Crc32(Canonical(document)));
        if (given != computed && !options.ignoreChecksum)
            Add("/checksum",
                given + " does not match the contents (" + computed +
                    "): the file was changed or damaged after it was written (--ignore-checksum accepts an edited "
                    "file)");
    }

    std::optional<ParamsDump> Document(const json& document, const ReadOptions& options) {
        if (!document.is_object()) {
            Add("", "not a parameter dump: the document is not a JSON object");
            return std::nullopt;
        }
        const auto format = document.find("format");
        if (format == document.end() || *format != kDumpFormat) {
            Add("/format", std::string("not a parameter dump of this host: \"format\": \"") + kDumpFormat +
                               "\" is missing (a dump written before version 2, without a checksum, cannot be "
                               "restored: dump the dispenser again)");
            return std::nullopt;
        }
        const auto version = document.find("version");
        if (version == document.end() || *version != kDumpVersion) {
            Add("/version", "version " + std::to_string(kDumpVersion) + " is expected, not " +
                                (version == document.end() ? std::string("none") : Shown(*version)));
            return std::nullopt;
        }
        OnlyMembers(document, "", {"format", "version", "address", "row", "tables", "checksum"});
        Checksum(document, options);
        ParamsDump dump;
        const auto address = Number(document, "address", "", 1, 255);
        const auto row = Number(document, "row", "", 1, kMaxRow);
        const json* tables = Array(document, "tables", "", kMaxTables);
        if (tables == nullptr) return std::nullopt;
        // Tables are read even when the address or row is not sound, so every problem is found.
        dump.address = address ? static_cast<int>(*address) : 0;
        dump.row = row ? static_cast<int>(*row) : 0;
        for (std::size_t i = 0; i < tables->size(); ++i)
            dump.tables.push_back(Table((*tables)[i], Pointer("/tables", i), i, dump.row));
        if (!address || !row) return std::nullopt;
        return dump;
    }
};

}  // namespace

std::string Describe(const Problem& problem) {
    return problem.path.empty() ? problem.text : problem.path + ": " + problem.text;
}

std::uint32_t Crc32(std::string_view bytes) {
    static const auto kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char b : bytes) crc = kTable[(crc ^ static_cast<std::uint8_t>(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string DumpText(const ParamsDump& dump) {
    ordered_json document{{"format", kDumpFormat},
                          {"version", kDumpVersion},
                          {"address", dump.address},
                          {"row", dump.row},
                          {"tables", ordered_json::array()}};
    for (const DumpTable& t : dump.tables) {
        ordered_json table{{"number", t.number}, {"name", t.name}, {"rows", t.rows}, {"fields", ordered_json::array()}};
        for (const DumpField& f : t.fields) {
            table["fields"].push_back(ordered_json{{"number", f.number},
                                                   {"name", f.name},
                                                   {"type", f.type},
                                                   {"size", f.size},
                                                   {"low", f.low},
                                                   {"high", f.high},
                                                   {"value", f.value ? ordered_json(*f.value) : ordered_json()}});
        }
        document["tables"].push_back(std::move(table));
    }
    // The checksum covers what a reader will parse back: the sorted form.
    const json sorted = json::parse(document.dump(-1, ' ', false, ordered_json::error_handler_t::replace));
    document["checksum"] = kChecksumPrefix + Hex8(Crc32(Canonical(sorted)));
    return document.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

DumpReading ReadDumpText(std::string_view text, const ReadOptions& options) {
    DumpReading reading;
    if (text.size() > kMaxDumpFileBytes) {
        reading.problems.push_back({"", "larger than a dump can be (" + std::to_string(text.size()) +
                                            " bytes; at most " + std::to_string(kMaxDumpFileBytes) + ")"});
        return reading;
    }
    json document;
    try {
        document = json::parse(
            text,
            [](int depth, json::parse_event_t, json&) {
                if (depth > kMaxDepth) throw TooDeep{};
                return true;
            },
            true, false);
    } catch (const TooDeep&) {
        reading.problems.push_back({"", "not a parameter dump: nested deeper than a dump is"});
        return reading;
    } catch (const json::exception& e) {
        reading.problems.push_back({"", std::string("not JSON: ") + e.what()});
        return reading;
    }
    Reader reader;
    reading.dump = reader.Document(document, options);
    reading.problems = std::move(reader.problems);
    return reading;
}

DumpReading ReadDumpFile(const std::filesystem::path& path, const ReadOptions& options) {
    DumpReading reading;
    const auto fail = [&](std::string text) {
        reading.problems.push_back({"", path.string() + ": " + std::move(text)});
        return reading;
    };
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return fail("cannot read: " + error.message());
    if (size > kMaxDumpFileBytes)
        return fail("refused without reading: " + std::to_string(size) + " bytes, a dump has at most " +
                    std::to_string(kMaxDumpFileBytes));
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot read");
    // One byte more than the size found: a file that grows meanwhile is
    // still read no further than that.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return fail("cannot read");
    if (static_cast<std::uintmax_t>(in.gcount()) > size) return fail("changed while it was read");
    text.resize(static_cast<std::size_t>(in.gcount()));
    return ReadDumpText(text, options);
}

}  // namespace zarvik::host
