#include "Output.h"

#include <cstdio>
#include <iostream>

#include "Commands.h"
#include "hostkit/StateNames.h"
#include "port/PortErrors.h"
#include "station/Session.h"

namespace zarvik::host {

HostError JsonNotTaken() {
    return UsageError("--json is for info, status, total, totals, scan, stats, param-read and tables");
}

OutputFormat ChooseFormat(bool json, bool csv) {
    if (csv && json) throw UsageError("totals: --csv or --json, not both");
    return json ? OutputFormat::Json : csv ? OutputFormat::Csv : OutputFormat::Text;
}

int ResultCode(Session& s) { return s.LineResult() == 1 ? kExitOk : kExitNotGood; }

void PrintLineResult(Session& s, std::ostream& out) {
    const std::uint8_t r = s.LineResult();
    out << "line result: " << int{r} << " (" << LineResultMeaning(r) << ")";
    if (r != 1) {
        const std::int32_t error = s.Port().GetLineError(static_cast<std::uint8_t>(s.Line()));
        if (error != 0) out << ", line error " << error << ": " << port::DescribeLineError(error);
        if (error == port::kErrorDevice || error == port::kErrorNotOpen) out << s.FaultCause();
    }
    out << '\n';
}

int PrintResult(Session& s) {
    PrintLineResult(s, std::cout);
    return ResultCode(s);
}

std::string StateText(std::uint8_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "%u (0x%02X)", unsigned{code}, unsigned{code});
    return text + std::string(" ") + NameDispenserState(code).text;
}

json StateJson(std::uint8_t code) { return {{"code", code}, {"name", NameDispenserState(code).text}}; }

json LineResultJson(Session& s) {
    const std::uint8_t r = s.LineResult();
    json out{{"code", r}, {"meaning", LineResultMeaning(r)}};
    if (r == 1) return out;
    const std::int32_t error = s.Port().GetLineError(static_cast<std::uint8_t>(s.Line()));
    if (error == 0) return out;
    out["lineError"] = error;
    out["lineErrorText"] = port::DescribeLineError(error);
    const std::string cause = s.Port().LineFault(s.Line()).text;
    if ((error == port::kErrorDevice || error == port::kErrorNotOpen) && !cause.empty()) out["cause"] = cause;
    return out;
}

namespace {

LineCounters Counters(const port::LineStatistics& st) {
    return {st.exchanges, st.good, st.bad, st.timeouts, st.deviceErrors, st.reopens};
}

}  // namespace

void PrintCounters(int line, const LineCounters& c, std::ostream& out) {
    out << "line " << line << " statistics: exchanges " << c.exchanges << ", good " << c.good << ", bad " << c.bad
        << ", timeouts " << c.timeouts << ", device errors " << c.deviceErrors << ", reopens " << c.reopens << '\n';
}

json CountersJson(const LineCounters& c) {
    return {{"exchanges", c.exchanges},       {"good", c.good},      {"bad", c.bad}, {"timeouts", c.timeouts},
            {"deviceErrors", c.deviceErrors}, {"reopens", c.reopens}};
}

void PrintStatistics(Session& s, std::ostream& out) {
    const port::LineStatistics st = s.Port().Statistics(s.Line());
    PrintCounters(s.Line(), Counters(st), out);
    for (const auto& [code, n] : st.badByError)
        out << "  error " << code << " (" << port::DescribeLineError(code) << "): " << n << '\n';
    out << "  bytes sent " << st.bytesSent << ", received " << st.bytesReceived << ", discarded " << st.bytesDiscarded
        << ", wake-ups " << st.wakeups << '\n';
    out << "  echoes sequence " << port::LearntName(st.sequenceEcho) << ", address " << port::LearntName(st.addressEcho)
        << (st.filtering ? ", stale replies filtered" : ", unfiltered") << "; stale replies dropped " << st.staleReplies
        << ", foreign " << st.foreignReplies << ", opens deferred " << st.opensDeferred << '\n';
    out << "  replies "
        << (st.strict     ? "strict"
            : st.fellBack ? "lenient (fell back: no reply ever matched)"
                          : "lenient")
        << "; other address/command/nozzle dropped " << st.mismatchedReplies << ", copies dropped "
        << st.duplicateReplies << ", refusals " << st.refusals << "; local echo " << st.localEcho << ", skipped "
        << st.localEchoes << '\n';
    out << "  reply latency p50 " << st.latencyP50.count() << " us, p95 " << st.latencyP95.count() << " us, max "
        << st.latencyMax.count() << " us\n";
}

json StatisticsJson(const port::LineStatistics& st) {
    json byError = json::object();
    for (const auto& [code, n] : st.badByError)
        byError[std::to_string(code)] = {{"count", n}, {"text", port::DescribeLineError(code)}};
    json out = CountersJson(Counters(st));
    out.update(
        json{{"badByError", std::move(byError)},
             {"bytesSent", st.bytesSent},
             {"bytesReceived", st.bytesReceived},
             {"bytesDiscarded", st.bytesDiscarded},
             {"wakeups", st.wakeups},
             {"sequenceEcho", port::LearntName(st.sequenceEcho)},
             {"addressEcho", port::LearntName(st.addressEcho)},
             {"filtering", st.filtering},
             {"staleReplies", st.staleReplies},
             {"foreignReplies", st.foreignReplies},
             {"opensDeferred", st.opensDeferred},
             {"matching", st.strict ? "strict" : "lenient"},
             {"fellBackToLenient", st.fellBack},
             {"mismatchedReplies", st.mismatchedReplies},
             {"duplicateReplies", st.duplicateReplies},
             {"refusals", st.refusals},
             {"localEcho", st.localEcho},
             {"localEchoes", st.localEchoes},
             {"latencyUs",
              {{"p50", st.latencyP50.count()}, {"p95", st.latencyP95.count()}, {"max", st.latencyMax.count()}}}});
    return out;
}

void PrintDocument(const json& doc) {
    std::cout << doc.dump(2, ' ', false, json::error_handler_t::replace) << std::endl;
}

int EmitJson(Session& s, const CommandArgs& a, json doc) {
    doc["lineResult"] = LineResultJson(s);
    if (a.stats) doc["statistics"] = StatisticsJson(s.Port().Statistics(s.Line()));
    PrintDocument(doc);
    return ResultCode(s);
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

}  // namespace zarvik::host
