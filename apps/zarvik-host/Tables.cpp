// tables: every table and field description of an address.
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "TablesReport.h"
#include "hostkit/Interrupt.h"
#include "hostkit/VisibleText.h"

namespace zarvik::host {

void PrintTableLine(const TableDescription& table) {
    std::cout << "table " << table.number << ": " << VisibleText(table.name) << ", rows " << table.rows << ", fields "
              << table.fields << '\n';
}

void PrintFieldLine(int number, const std::optional<FieldDescription>& field) {
    if (!field) {
        std::cout << "  field " << number << ": no description\n";
        return;
    }
    std::cout << "  field " << number << ": " << VisibleText(field->name) << ", type " << field->type << ", size "
              << field->size << ", limits " << field->low << ".." << field->high << '\n';
}

json FieldJson(int number, const std::optional<FieldDescription>& f) {
    if (!f) return {{"number", number}, {"error", "no description"}};
    return {{"number", f->number}, {"name", f->name}, {"type", f->type},
            {"size", f->size},     {"low", f->low},   {"high", f->high}};
}

json TableJson(const TableDescription& table, json fields) {
    return {{"number", table.number}, {"name", table.name}, {"rows", table.rows}, {"fields", std::move(fields)}};
}

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
        if (!a.json) PrintTableLine(*table);
        json fields = json::array();
        for (int f = 1; f <= table->fields; ++f) {
            const auto field = ReadFieldDescription(s, address, t, f);
            complete = complete && field.has_value();
            fields.push_back(FieldJson(f, field));
            if (!a.json) PrintFieldLine(f, field);
        }
        tables.push_back(TableJson(*table, std::move(fields)));
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
