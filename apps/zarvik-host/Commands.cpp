#include "Commands.h"

#include <iomanip>
#include <iostream>
#include <type_traits>

#include "Descriptions.h"
#include "DriverSlots.h"
#include "ExitCodes.h"
#include "Interrupt.h"
#include "JsonOutput.h"
#include "VisibleText.h"
#include "protocol/Cp1251.h"

namespace zarvik::host {
namespace {

int Finish(Session& s) {
    s.PrintLineResult(std::cout);
    return ResultCode(s);
}

json FieldJson(const FieldDescription& f) {
    return {{"number", f.number}, {"name", f.name}, {"type", f.type},
            {"size", f.size},     {"low", f.low},   {"high", f.high}};
}

}  // namespace

int ResultCode(Session& s) { return s.LineResult() == 1 ? kExitOk : kExitNotGood; }

int RunInfo(Session& s, const CommandArgs& a) {
    TShortString info;
    slots::DriverInfo(s.Driver(), info);
    const std::string driver = cp1251::ToUtf8(info.view());
    json capabilities = json::array();
    for (std::uint32_t kind = 1; kind <= 7; ++kind) {
        std::int32_t value = 0;
        if (slots::QueryCapability(s.Driver(), kind, value)) capabilities.push_back({{"kind", kind}, {"value", value}});
    }
    if (a.json) return EmitJson(s, a, {{"driver", driver}, {"capabilities", std::move(capabilities)}});
    std::cout << "driver: " << VisibleText(driver) << '\n';
    for (const auto& c : capabilities) std::cout << "capability " << c["kind"] << ": " << c["value"] << '\n';
    return Finish(s);
}

int RunOpen(Session& s, const CommandArgs&) {
    s.Open();
    std::cout << "line " << s.Line() << " open on " << s.Device() << '\n';
    return Finish(s);
}

namespace {

// An action on one nozzle (with its value, for doses and prices): the line
// opened, the operation called, the exit code from its line result.
template <auto Operation>
int RunNozzleAction(Session& s, const CommandArgs& a) {
    s.Open();
    if constexpr (std::is_invocable_v<decltype(Operation), TDriver25*, slots::I32, slots::I32, slots::I32>)
        Operation(s.Driver(), s.Line(), a.dispenser, a.nozzle);
    else
        Operation(s.Driver(), s.Line(), a.dispenser, a.nozzle, a.value);
    return Finish(s);
}

}  // namespace

int RunStart(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::StartNozzle>(s, a); }
int RunStop(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::StopNozzle>(s, a); }
int RunReset(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::ResetDispenser>(s, a); }
int RunDoseLitres(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetVolumeDose>(s, a); }
int RunDoseMoney(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetMoneyDose>(s, a); }
int RunPrice(Session& s, const CommandArgs& a) { return RunNozzleAction<slots::SetNozzlePrice>(s, a); }

int RunTotal(Session& s, const CommandArgs& a) {
    s.Open();
    double total = -1.0;
    slots::ReadNozzleTotal(s.Driver(), s.Line(), a.dispenser, a.nozzle, total);
    const bool good = s.LineResult() == 1;
    if (a.json)
        return EmitJson(s, a,
                        {{"line", s.Line()},
                         {"dispenser", a.dispenser},
                         {"nozzle", a.nozzle},
                         {"total", good ? json(total) : json(nullptr)}});
    if (good) std::cout << "total: " << std::fixed << std::setprecision(3) << total << " L\n";
    return Finish(s);
}

int RunParamRead(Session& s, const CommandArgs& a) {
    s.Open();
    const std::int32_t value = slots::ReadParameter(s.Driver(), s.Line(), a.address, a.code);
    const bool good = s.LineResult() == 1;
    if (a.json)
        return EmitJson(s, a,
                        {{"address", a.address}, {"code", a.code}, {"value", good ? json(value) : json(nullptr)}});
    if (good) std::cout << "value: " << value << '\n';
    return Finish(s);
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
        s.PrintLineResult(std::cout);
    return complete ? kExitOk : kExitNotGood;
}

}  // namespace zarvik::host
