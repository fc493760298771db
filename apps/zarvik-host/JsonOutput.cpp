#include "JsonOutput.h"

#include <iostream>

#include "Commands.h"
#include "Session.h"
#include "StateNames.h"
#include "port/PortErrors.h"

namespace zarvik::host {

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

json StatisticsJson(const port::LineStatistics& st) {
    json byError = json::object();
    for (const auto& [code, n] : st.badByError)
        byError[std::to_string(code)] = {{"count", n}, {"text", port::DescribeLineError(code)}};
    return {{"exchanges", st.exchanges},
            {"good", st.good},
            {"bad", st.bad},
            {"timeouts", st.timeouts},
            {"deviceErrors", st.deviceErrors},
            {"reopens", st.reopens},
            {"badByError", std::move(byError)},
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
             {{"p50", st.latencyP50.count()}, {"p95", st.latencyP95.count()}, {"max", st.latencyMax.count()}}}};
}

int EmitJson(Session& s, const CommandArgs& a, json doc) {
    doc["lineResult"] = LineResultJson(s);
    if (a.stats) doc["statistics"] = StatisticsJson(s.Port().Statistics(s.Line()));
    // Text from a dispenser is converted from code page 1251 already; anything
    // else that is not UTF-8 is replaced rather than fail the document.
    std::cout << doc.dump(2, ' ', false, json::error_handler_t::replace) << std::endl;
    return ResultCode(s);
}

}  // namespace zarvik::host
