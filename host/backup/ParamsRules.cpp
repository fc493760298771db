#include "backup/ParamsRules.h"

#include <charconv>
#include <cmath>
#include <memory>

#include "hostkit/VisibleText.h"
#include "params/ParameterUnit.h"

namespace zarvik::host {
namespace {

// The descriptor the window would build from this field's description.
std::unique_ptr<params::CParameter> Descriptor(int table, const DumpField& f) {
    auto p = std::make_unique<params::CParameter>(static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(f.number),
                                                  10, 0, f.name, std::string(), 0, static_cast<std::int32_t>(f.low),
                                                  static_cast<std::int32_t>(f.high), 0, 0, 1.0L);
    p->Width = static_cast<std::uint8_t>(f.size);
    return p;
}

// Text from a dispenser or a file, in quotes, its controls made visible.
std::string Quoted(const std::string& text) { return "\"" + VisibleText(text) + "\""; }

std::string Path(std::size_t table) { return "/tables/" + std::to_string(table); }
std::string Path(std::size_t table, std::size_t field) { return Path(table) + "/fields/" + std::to_string(field); }

constexpr double kInt64Bound = 9223372036854775808.0;  // 2^63

}  // namespace

TypedValue ParseRawValue(std::string_view text) {
    const std::string shown = Quoted(std::string(text));
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+' || (text.front() == '+' && digits.front() == '-'))
        return {std::nullopt, shown + " is not a number"};
    const char* first = digits.data();
    const char* last = first + digits.size();
    std::int64_t whole = 0;
    const auto integer = std::from_chars(first, last, whole);
    if (integer.ptr == last && integer.ec == std::errc()) return {whole, {}};
    if (integer.ptr == last && integer.ec == std::errc::result_out_of_range)
        return {std::nullopt, shown + " is larger than any field holds (at most 4 bytes, 0..4294967295)"};
    double number = 0.0;
    const auto real = std::from_chars(first, last, number, std::chars_format::general);
    if (real.ptr != last || (real.ec != std::errc() && real.ec != std::errc::result_out_of_range))
        return {std::nullopt, shown + " is not a number"};
    if (real.ec == std::errc::result_out_of_range) return {std::nullopt, shown + " is not a value a field can hold"};
    if (std::isnan(number)) return {std::nullopt, shown + " is not a number (NaN)"};
    if (std::isinf(number)) return {std::nullopt, shown + " is an infinity, not a value a field can hold"};
    if (number != std::trunc(number))
        return {std::nullopt, shown + " is not a whole number: a field holds a raw integer"};
    if (std::fabs(number) >= kInt64Bound)
        return {std::nullopt, shown + " is larger than any field holds (at most 4 bytes, 0..4294967295)"};
    return {static_cast<std::int64_t>(number), {}};
}

std::string FieldTitle(int table, const DumpField& field) {
    return "table " + std::to_string(table) + " field " + std::to_string(field.number) + " " + Quoted(field.name);
}

std::string WidthText(const DumpField& field) {
    const auto p = Descriptor(0, field);
    return std::to_string(field.size) + (field.size == 1 ? " byte" : " bytes") + ", 0.." +
           std::to_string(p->WidthMax());
}

std::string LimitsText(const DumpField& field) {
    std::string text = "limits " + std::to_string(field.low) + ".." + std::to_string(field.high);
    if (Descriptor(0, field)->LimitsInverted()) text += ", inverted: taken as the whole width";
    return text;
}

ValueCheck CheckValue(int table, const DumpField& field, std::int64_t value) {
    const std::string title = FieldTitle(table, field);
    if (field.size == 0)
        return {ValueVerdict::kNoValueBytes, title + " has no value bytes: nothing can be written to it"};
    const auto p = Descriptor(table, field);
    if (!p->FitsField(value)) {
        std::string text = std::to_string(value) + " does not fit " + title + " (" + WidthText(field) + ")";
        const std::int64_t unsignedForm = value + p->WidthMax() + 1;
        if (value < 0 && p->FitsField(unsignedForm))
            text += "; a signed value is written as its unsigned raw number, " + std::to_string(unsignedForm) +
                    " for " + std::to_string(value);
        return {ValueVerdict::kDoesNotFit, text};
    }
    if (!p->WithinLimits(value))
        return {ValueVerdict::kOutsideLimits,
                std::to_string(value) + " is outside the limits of " + title + " (" + LimitsText(field) + ")"};
    return {};
}

std::vector<Problem> CheckTarget(const ParamsDump& file, int address, int row, bool otherTarget) {
    std::vector<Problem> problems;
    if (otherTarget) return problems;
    const char* hint = " (--other-target restores it there)";
    if (file.address != address)
        problems.push_back({"/address", "the file is a dump of address " + std::to_string(file.address) +
                                            ", the target is address " + std::to_string(address) + hint});
    if (file.row != row)
        problems.push_back({"/row", "the file holds row " + std::to_string(file.row) + ", the target is row " +
                                        std::to_string(row) + hint});
    return problems;
}

std::vector<Problem> CompareLayout(const ParamsDump& file, const std::vector<DumpTable>& dispenser, int row) {
    std::vector<Problem> problems;
    const auto differs = [&](std::string path, const std::string& what, const std::string& member,
                             const std::string& inFile, const std::string& onDispenser) {
        problems.push_back({std::move(path), what + ": " + member + " is " + inFile + " in the file, " + onDispenser +
                                                 " on the dispenser"});
    };
    if (file.tables.size() != dispenser.size())
        problems.push_back({"/tables", "the file has " + std::to_string(file.tables.size()) +
                                           " table(s), the dispenser " + std::to_string(dispenser.size())});
    for (std::size_t i = 0; i < file.tables.size() && i < dispenser.size(); ++i) {
        const DumpTable& ft = file.tables[i];
        const DumpTable& dt = dispenser[i];
        const std::string table = "table " + std::to_string(dt.number);
        if (ft.sound) {
            if (ft.name != dt.name) differs(Path(i) + "/name", table, "the name", Quoted(ft.name), Quoted(dt.name));
            if (ft.rows != dt.rows)
                differs(Path(i) + "/rows", table, "the row count", std::to_string(ft.rows), std::to_string(dt.rows));
        }
        if (ft.fields.size() != dt.fields.size())
            differs(Path(i) + "/fields", table, "the field count", std::to_string(ft.fields.size()),
                    std::to_string(dt.fields.size()));
        bool values = false;
        for (std::size_t j = 0; j < ft.fields.size() && j < dt.fields.size(); ++j) {
            const DumpField& ff = ft.fields[j];
            const DumpField& df = dt.fields[j];
            values = values || ff.value.has_value();
            if (!ff.sound) continue;
            const std::string field = FieldTitle(dt.number, df);
            const std::string at = Path(i, j);
            if (ff.name != df.name) differs(at + "/name", field, "the name", Quoted(ff.name), Quoted(df.name));
            if (ff.type != df.type)
                differs(at + "/type", field, "the type", std::to_string(ff.type), std::to_string(df.type));
            if (ff.size != df.size)
                differs(at + "/size", field, "the width", std::to_string(ff.size), std::to_string(df.size));
            if (ff.low != df.low)
                differs(at + "/low", field, "the low limit", std::to_string(ff.low), std::to_string(df.low));
            if (ff.high != df.high)
                differs(at + "/high", field, "the high limit", std::to_string(ff.high), std::to_string(df.high));
        }
        if (values && row > dt.rows)
            problems.push_back({Path(i) + "/rows", table + " has " + std::to_string(dt.rows) +
                                                       " row(s) on the dispenser: the file's values cannot go to row " +
                                                       std::to_string(row)});
    }
    return problems;
}

std::vector<Problem> CheckValues(const ParamsDump& file, bool force) {
    std::vector<Problem> problems;
    for (std::size_t i = 0; i < file.tables.size(); ++i) {
        const DumpTable& t = file.tables[i];
        for (std::size_t j = 0; j < t.fields.size(); ++j) {
            const DumpField& f = t.fields[j];
            if (!f.sound || !f.value) continue;
            const ValueCheck check = CheckValue(t.number, f, *f.value);
            if (check.verdict == ValueVerdict::kFits || (check.verdict == ValueVerdict::kOutsideLimits && force))
                continue;
            std::string text = check.text;
            if (check.verdict == ValueVerdict::kOutsideLimits) text += " (--force writes values outside the limits)";
            problems.push_back({Path(i, j) + "/value", std::move(text)});
        }
    }
    return problems;
}

}  // namespace zarvik::host
