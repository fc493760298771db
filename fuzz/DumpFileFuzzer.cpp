// Any bytes as a parameter dump file, through the reader and the restore
// rules. Input byte 0 bit 0 asks for the checksum to be verified; the rest is
// the file. Without verification the fuzzer reaches documents whose every
// member is sound.
//
// Checked besides memory safety: the reader never throws; a document read
// without problems keeps the dump's invariants (numbering, widths, limits
// within the width, a value exactly where the row and value bytes exist),
// fits itself as a target and a layout, and writes back to a file that reads
// the same with its checksum verified; a value the rules let through without
// --force fits its width and limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backup/ParamsDocument.h"
#include "backup/ParamsRules.h"

namespace {

using namespace zarvik::host;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckInvariants(const ParamsDump& dump) {
    Require(dump.address >= 1 && dump.address <= 255 && dump.row >= 1 && dump.row <= kMaxRow);
    Require(dump.tables.size() <= static_cast<std::size_t>(kMaxTables));
    for (std::size_t i = 0; i < dump.tables.size(); ++i) {
        const DumpTable& t = dump.tables[i];
        Require(t.sound && t.number == static_cast<int>(i) + 1 && t.rows >= 0 && t.rows <= 65535);
        Require(t.fields.size() <= static_cast<std::size_t>(kMaxFields));
        for (std::size_t j = 0; j < t.fields.size(); ++j) {
            const DumpField& f = t.fields[j];
            Require(f.sound && f.number == static_cast<int>(j) + 1 && f.size >= 0 && f.size <= 4);
            const std::uint64_t top = f.size == 0 ? 0xFFFFFFFFu : (std::uint64_t{1} << (8 * f.size)) - 1;
            Require(f.low <= top && f.high <= top);
            Require(f.value.has_value() == (dump.row <= t.rows && f.size > 0));
        }
    }
}

void CheckRules(const ParamsDump& dump) {
    Require(CheckTarget(dump, dump.address, dump.row, false).empty());
    std::vector<DumpTable> layout = dump.tables;
    for (auto& t : layout)
        for (auto& f : t.fields) f.value.reset();
    Require(CompareLayout(dump, layout, dump.row).empty());
    const auto refused = CheckValues(dump, false);
    std::size_t bad = 0;
    for (const DumpTable& t : dump.tables) {
        for (const DumpField& f : t.fields) {
            if (!f.value) continue;
            const ValueCheck check = CheckValue(t.number, f, *f.value);
            if (check.verdict != ValueVerdict::kFits) {
                ++bad;
                continue;
            }
            Require(*f.value >= 0 && *f.value <= (std::int64_t{1} << (8 * f.size)) - 1);
            if (f.low <= f.high) Require(*f.value >= f.low && *f.value <= f.high);
        }
    }
    Require(refused.size() == bad);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    ReadOptions options;
    options.ignoreChecksum = (data[0] & 1) == 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        const DumpReading reading = ReadDumpText(text, options);
        if (!reading.dump) {
            Require(!reading.problems.empty());
            return 0;
        }
        // Whatever was read, the rules judge it without failing.
        (void)CheckValues(*reading.dump, true);
        (void)CompareLayout(*reading.dump, reading.dump->tables, reading.dump->row);
        if (!reading.problems.empty()) return 0;
        CheckInvariants(*reading.dump);
        CheckRules(*reading.dump);
        const DumpReading again = ReadDumpText(DumpText(*reading.dump));
        Require(again.problems.empty() && again.dump);
        Require(DumpText(*again.dump) == DumpText(*reading.dump));
    } catch (...) {
        std::abort();
    }
    return 0;
}
