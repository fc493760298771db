// param-write: one value, checked against its field's description first.
#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>

#include "OnLine.h"
#include "Output.h"
#include "ParamsCommands.h"
#include "ParamsRead.h"
#include "backup/ParamsRules.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"
#include "loader/DriverSlots.h"
#include "protocol/ParameterCode.h"

namespace zarvik::host {
namespace {

struct Cell {
    int table, row, field;
};

// Table, row and field of a code 1TTRRFF, each 1..99; nullopt for any other code.
std::optional<Cell> CellOf(int code) {
    if (code < protocol::kParameterCodeBase || code >= 2 * protocol::kParameterCodeBase) return std::nullopt;
    const protocol::ParameterAddress where = protocol::UnpackParameterCode(code);
    if (where.table == 0 || where.row == 0 || where.field == 0) return std::nullopt;
    return Cell{where.table, where.row, where.field};
}

int Refuse(const std::string& why) {
    std::cerr << "zarvik-host: param-write refused: " << why << "; nothing written\n";
    return kExitUsage;
}

void ParamWriteOptions(CLI::App& c, Cli& cli) {
    ParamsArgs& a = cli.args.params;
    c.add_option("--address,-a", a.address, "bus address")->check(CLI::Range(1, 255))->capture_default_str();
    c.add_option("--code,-c", a.code, "parameter code 1TTRRFF (table, row, field 1..99)")->required();
    c.add_option("VALUE", a.value, "the raw value, a whole number")->required();
    c.add_flag("--force", a.force, "write a value outside the field's limits (never one wider than the field)");
    AddAttempts(c, a);
    c.footer(
        "The field's description is read first; nothing is sent for a value that is not a whole number, is NaN or "
        "an infinity, does not fit the field's width, or lies outside its limits without --force.\n"
        "Exit codes: 0 written (line result 1); 1 no reply; 2 refused before anything was written (bad code or "
        "value, no such table, row or field); 3 the dispenser refused the write or never answered well.");
}

}  // namespace

int RunParamWrite(Session& s, const ParamsArgs& a) {
    const std::optional<Cell> cell = CellOf(a.code);
    if (!cell)
        return Refuse("--code " + std::to_string(a.code) +
                      " is not a parameter code 1TTRRFF with table, row and field 1..99");
    const TypedValue typed = ParseRawValue(a.value);
    if (!typed.value) return Refuse(typed.error);
    const std::int64_t value = *typed.value;

    s.Open();
    ParamsReader reader(s, a.address, a.attempts);
    DumpField field;
    try {
        const std::optional<DumpTable> table = reader.Table(cell->table);
        if (!table)
            return Refuse("the dispenser at address " + std::to_string(a.address) + " has no table " +
                          std::to_string(cell->table));
        const std::string title = "table " + std::to_string(cell->table) + " \"" + VisibleText(table->name) + "\"";
        if (cell->row > table->rows)
            return Refuse(title + " has " + std::to_string(table->rows) + " row(s): there is no row " +
                          std::to_string(cell->row));
        if (cell->field > static_cast<int>(table->fields.size()))
            return Refuse(title + " has " + std::to_string(table->fields.size()) + " field(s): there is no field " +
                          std::to_string(cell->field));
        field = reader.Field(cell->table, cell->field);
    } catch (const ReadFailure& e) {
        std::cerr << "zarvik-host: param-write: cannot read the field's description: " << ErrorText(e)
                  << "; nothing written\n";
        return e.exitCode;
    }

    const ValueCheck check = CheckValue(cell->table, field, value);
    if (check.verdict == ValueVerdict::kNoValueBytes || check.verdict == ValueVerdict::kDoesNotFit)
        return Refuse(check.text);
    if (check.verdict == ValueVerdict::kOutsideLimits && !a.force)
        return Refuse(check.text + " (--force writes it anyway)");

    std::cout << "writing " << value << " to " << FieldTitle(cell->table, field) << " row " << cell->row << " ("
              << WidthText(field) << "; " << LimitsText(field) << ")"
              << (check.verdict == ValueVerdict::kOutsideLimits ? ", outside the limits: --force" : "") << '\n';
    slots::WriteParameter(s.Driver(), s.Line(), a.address,
                          protocol::PackParameterCode(cell->table, cell->row, cell->field),
                          static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    PrintLineResult(s, std::cout);
    return s.LineResult() == 1 ? kExitOk : kExitNotGood;
}

int RunParamWriteCommand(Session& s, const CommandArgs& a) { return RunParamWrite(s, a.params); }

extern const Command kParamWriteCommand{"param-write",
                                        "write one parameter, checked against its field's description",
                                        ParamWriteOptions,
                                        CheckDevice,
                                        OnSession<RunParamWriteCommand>,
                                        false,
                                        false};

}  // namespace zarvik::host
