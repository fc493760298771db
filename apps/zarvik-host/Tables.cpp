// tables: every table and field description of an address.
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "hostkit/Interrupt.h"
#include "hostkit/VisibleText.h"
#include "station/Descriptions.h"

namespace zarvik::host {
namespace {

json FieldJson(const FieldDescription& f) {
    return {{"number", f.number}, {"name", f.name}, {"type", f.type},
            {"size", f.size},     {"low", f.low},   {"high", f.high}};
}

}  // namespace

// Tables are numbered from 1 without gaps; the first one that gets no good
// description ends the list. A field without a description makes the
// listing incomplete: exit code 3 once every table has been listed.
int RunTables(Session& s, const CommandArgs& a) {
    s.Open();
    const auto address = static_cast<std::uint8_t>(a.address);
    json tables = json::array();
    bool complete = true;
    for (int t = 1; t <= 99 && InterruptSignal() == 0; ++t) {
        const auto table = ReadTableDescription(s, address, t);
        if (!table) break;
        if (!a.json)
            std::cout << "table " << t << ": " << VisibleText(table->name) << ", rows " << table->rows << ", fields "
                      << table->fields << '\n';
        json fields = json::array();
        for (int f = 1; f <= table->fields; ++f) {
            const auto field = ReadFieldDescription(s, address, t, f);
            complete = complete && field.has_value();
            fields.push_back(field ? FieldJson(*field) : json{{"number", f}, {"error", "no description"}});
            if (a.json) continue;
            if (!field) {
                std::cout << "  field " << f << ": no description\n";
                continue;
            }
            std::cout << "  field " << f << ": " << VisibleText(field->name) << ", type " << field->type << ", size "
                      << field->size << ", limits " << field->low << ".." << field->high << '\n';
        }
        tables.push_back({{"number", t}, {"name", table->name}, {"rows", table->rows}, {"fields", std::move(fields)}});
    }
    complete = complete && !tables.empty() && InterruptSignal() == 0;
    // The exchange that ended the list is expected not to be good.
    if (a.json)
        EmitJson(s, a, {{"address", a.address}, {"complete", complete}, {"tables", std::move(tables)}});
    else
        PrintLineResult(s, std::cout);
    return complete ? kExitOk : kExitNotGood;
}

extern const Command kTablesCommand{
    "tables", "all table and field descriptions", AddressOptions, CheckDevice, OnSession<RunTables>, true, false};

}  // namespace zarvik::host
