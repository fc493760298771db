// params-dump: every table, field description and value of one row as JSON.
//
// Document: {"address": A, "row": R, "tables": [{"number", "name", "rows",
// "fields": [{"number", "name", "type", "size", "low", "high", "value"}]}]};
// "value" is null where the row does not exist in a table or the read failed.
#include <iostream>
#include <nlohmann/json.hpp>

#include "Descriptions.h"
#include "ParamsCommands.h"
#include "ParamsRead.h"

namespace zarvik::host {

using nlohmann::json;

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

}  // namespace zarvik::host
