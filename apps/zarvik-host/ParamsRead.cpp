#include "ParamsRead.h"

#include <CLI/CLI.hpp>

#include "ParamsCommands.h"
#include "backup/ParamsRules.h"
#include "hostkit/Console.h"
#include "hostkit/Interrupt.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "protocol/ParameterCode.h"
#include "station/Descriptions.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

// Runs `ask` until it returns a result (not nullopt) or the attempts run out;
// `ask` sets `cause` and `exitCode` for each failed attempt.
template <typename Ask>
auto Attempt(int attempts, int& repeats, const std::string& what, Ask ask) {
    std::string cause = "no attempt";
    int exitCode = kExitExchangeFailed;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1) ++repeats;
        try {
            if (auto result = ask(cause, exitCode)) return std::move(*result);
        } catch (const ESerialIO& e) {
            cause = "no reply: " + ErrorText(e);
            exitCode = kExitExchangeFailed;
        }
    }
    throw ReadFailure(what + ": no good reply after " + std::to_string(attempts) + " attempt(s) (last: " + cause + ")",
                      exitCode);
}

std::string TableTitle(int table) { return "table " + std::to_string(table); }

// Between two requests: a signal ends the read there.
void StopIfInterrupted() {
    if (const int signal = InterruptSignal())
        throw ReadFailure("interrupted by " + SignalName(signal), kExitInterrupted);
}

}  // namespace

ParamsReader::ParamsReader(Session& session, int address, int attempts)
    : session_(session), address_(address), attempts_(attempts < 1 ? 1 : attempts) {}

std::optional<DumpTable> ParamsReader::Table(int table) {
    const auto address = static_cast<std::uint8_t>(address_);
    auto reply = Attempt(attempts_, repeats_, TableTitle(table), [&](std::string& cause, int& exitCode) {
        auto r = AskTableDescription(session_, address, table);
        if (r.outcome == DescriptionOutcome::kBad) {
            cause = r.cause;
            exitCode = kExitNotGood;
            return std::optional<DescriptionReply<TableDescription>>();
        }
        return std::optional(std::move(r));
    });
    if (reply.outcome == DescriptionOutcome::kAbsent) return std::nullopt;
    DumpTable t;
    t.number = table;
    t.name = reply.description.name;
    t.rows = reply.description.rows;
    t.fields.resize(static_cast<std::size_t>(reply.description.fields));
    return t;
}

DumpField ParamsReader::Field(int table, int field) {
    const auto address = static_cast<std::uint8_t>(address_);
    const std::string what = TableTitle(table) + " field " + std::to_string(field);
    auto reply = Attempt(attempts_, repeats_, what, [&](std::string& cause, int& exitCode) {
        auto r = AskFieldDescription(session_, address, table, field);
        if (r.outcome == DescriptionOutcome::kBad) {
            cause = r.cause;
            exitCode = kExitNotGood;
            return std::optional<DescriptionReply<FieldDescription>>();
        }
        return std::optional(std::move(r));
    });
    if (reply.outcome == DescriptionOutcome::kAbsent)
        throw ReadFailure(what + ": the dispenser describes no such field", kExitNotGood);
    DumpField f;
    f.number = field;
    f.name = reply.description.name;
    f.type = reply.description.type;
    f.size = reply.description.size;
    f.low = reply.description.low;
    f.high = reply.description.high;
    return f;
}

std::vector<DumpTable> ParamsReader::Layout() {
    std::vector<DumpTable> tables;
    for (int t = 1; t <= kMaxTables; ++t) {
        StopIfInterrupted();
        std::optional<DumpTable> described = Table(t);
        if (!described) break;
        DumpTable& table = *described;
        if (table.fields.size() > static_cast<std::size_t>(kMaxFields))
            throw ReadFailure(TableTitle(t) + " \"" + table.name + "\" has " + std::to_string(table.fields.size()) +
                                  " fields; a parameter code names at most " + std::to_string(kMaxFields),
                              kExitNotGood);
        for (std::size_t f = 0; f < table.fields.size(); ++f) {
            StopIfInterrupted();
            table.fields[f] = Field(t, static_cast<int>(f) + 1);
        }
        tables.push_back(std::move(table));
    }
    if (tables.empty()) throw ReadFailure("the dispenser describes no table 1: it has no parameters", kExitNotGood);
    return tables;
}

std::int64_t ParamsReader::Value(int table, int row, const DumpField& field) {
    const std::string what = FieldTitle(table, field) + " row " + std::to_string(row);
    const std::int32_t code = protocol::PackParameterCode(table, row, field.number);
    const std::int64_t top = (std::int64_t{1} << (8 * field.size)) - 1;
    return Attempt(attempts_, repeats_, what, [&](std::string& cause, int& exitCode) -> std::optional<std::int64_t> {
        const std::int32_t v = slots::ReadParameter(session_.Driver(), session_.Line(), address_, code);
        exitCode = kExitNotGood;
        if (session_.LineResult() != 1) {
            const std::int32_t error = session_.Port().GetLineError(static_cast<std::uint8_t>(session_.Line()));
            cause = "bad reply, line error " + std::to_string(error) + ": " + port::DescribeLineError(error);
            return std::nullopt;
        }
        // A value wider than the field is no reply to this request.
        const std::int64_t raw = static_cast<std::uint32_t>(v);
        if (raw > top) {
            cause = "a value of " + std::to_string(raw) + ", more than the field's " + std::to_string(field.size) +
                    " byte(s) hold";
            return std::nullopt;
        }
        return raw;
    });
}

void ParamsReader::ReadValues(ParamsDump& dump) {
    for (DumpTable& t : dump.tables) {
        for (DumpField& f : t.fields) {
            StopIfInterrupted();
            f.value.reset();
            if (dump.row <= t.rows && f.size > 0) f.value = Value(t.number, dump.row, f);
        }
    }
}

void AddAttempts(CLI::App& c, ParamsArgs& a) {
    c.add_option("--attempts", a.attempts, "tries per request before a read or a verified write fails")
        ->check(CLI::Range(1, 20))
        ->capture_default_str();
}

}  // namespace zarvik::host
