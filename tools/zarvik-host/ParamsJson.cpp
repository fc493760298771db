// params-dump and params-restore: every table, field description and value
// of one row as JSON, and the way back.
//
// Document: {"address": A, "row": R, "tables": [{"number", "name", "rows",
// "fields": [{"number", "name", "type", "size", "low", "high", "value"}]}]};
// "value" is null where the row does not exist in a table or the read failed.
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "Commands.h"
#include "Descriptions.h"
#include "DriverSlots.h"
#include "protocol/ParameterCode.h"

namespace zarvik::host {
namespace {

using nlohmann::json;

std::optional<std::int32_t> ReadValue(Session& s, int address, int table, int row, int field) {
    const std::int32_t v =
        slots::ReadParameter(s.Driver(), s.Line(), address, protocol::PackParameterCode(table, row, field));
    if (s.LineResult() != 1) return std::nullopt;
    return v;
}

}  // namespace

int RunParamsDump(Session& s, const CommandArgs& a) {
    s.Open();
    const auto address = static_cast<std::uint8_t>(a.address);
    json doc{{"address", a.address}, {"row", a.row}, {"tables", json::array()}};
    for (int t = 1; t <= 99; ++t) {
        const auto table = ReadTableDescription(s, address, t);
        if (!table) break;
        json jt{{"number", t}, {"name", table->name}, {"rows", table->rows}, {"fields", json::array()}};
        for (int f = 1; f <= table->fields; ++f) {
            const auto field = ReadFieldDescription(s, address, t, f);
            if (!field) continue;
            json jf{{"number", f},         {"name", field->name}, {"type", field->type},
                    {"size", field->size}, {"low", field->low},   {"high", field->high}};
            const auto value = a.row <= table->rows ? ReadValue(s, a.address, t, a.row, f) : std::nullopt;
            jf["value"] = value ? json(*value) : json(nullptr);
            jt["fields"].push_back(std::move(jf));
        }
        doc["tables"].push_back(std::move(jt));
    }
    std::cout << doc.dump(2) << '\n';
    s.PrintLineResult(std::cerr);
    return 0;
}

int RunParamsRestore(Session& s, const CommandArgs& a) {
    std::ifstream in(a.file);
    if (!in) throw std::runtime_error("cannot read " + a.file);
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error(a.file + ": not a parameter dump: " + e.what());
    }
    if (!doc.is_object() || !doc.contains("tables") || !doc["tables"].is_array())
        throw std::runtime_error(a.file + ": no \"tables\" array");
    s.Open();
    int differences = 0, failures = 0;
    for (const json& jt : doc["tables"]) {
        const int t = jt.value("number", 0);
        if (!jt.contains("fields") || !jt["fields"].is_array()) continue;
        for (const json& jf : jt["fields"]) {
            if (!jf.contains("value") || !jf["value"].is_number_integer()) continue;
            const int f = jf.value("number", 0);
            const auto wanted = jf["value"].get<std::int64_t>();
            if (t < 1 || t > 99 || f < 1 || f > 99 || wanted < INT32_MIN || wanted > UINT32_MAX) {
                std::cout << "table " << t << " field " << f << ": skipped, out of range\n";
                continue;
            }
            const auto value = static_cast<std::int32_t>(wanted);
            const auto current = ReadValue(s, a.address, t, a.row, f);
            if (current && *current == value) continue;
            ++differences;
            std::cout << "table " << t << " field " << f << " (" << jf.value("name", "") << "): dispenser "
                      << (current ? std::to_string(*current) : std::string("unreadable")) << ", file " << value;
            if (!a.apply) {
                std::cout << '\n';
                continue;
            }
            slots::WriteParameter(s.Driver(), s.Line(), a.address, protocol::PackParameterCode(t, a.row, f), value);
            const bool written = s.LineResult() == 1;
            const auto back = ReadValue(s, a.address, t, a.row, f);
            if (written && back && *back == value) {
                std::cout << " -> written, verified\n";
            } else {
                ++failures;
                std::cout << " -> " << (written ? "read back " : "refused, read back ")
                          << (back ? std::to_string(*back) : std::string("unreadable")) << '\n';
            }
        }
    }
    std::cout << differences << " difference(s)";
    if (a.apply) std::cout << ", " << failures << " not written";
    std::cout << (a.apply || differences == 0 ? "" : " (use --apply to write them)") << '\n';
    s.PrintLineResult(std::cout);
    return failures == 0 ? 0 : 1;
}

}  // namespace zarvik::host
