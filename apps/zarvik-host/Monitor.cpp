// The commands that look at a line without changing anything: status,
// watch, scan and stats.
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <optional>
#include <thread>

#include "Commands.h"
#include "Console.h"
#include "DriverSlots.h"
#include "ExitCodes.h"
#include "Interrupt.h"
#include "IsoTime.h"
#include "JsonOutput.h"
#include "StateNames.h"
#include "StatusReplies.h"
#include "port/PortErrors.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

namespace proto = zarvik::protocol;

// Every status reply of the session, for the nozzle it answers.
class StatusCapture {
public:
    explicit StatusCapture(Session& s) : session_(s) {
        session_.SetObserver([this](const port::FrameTraceEvent& e) { replies_.Observe(e); });
    }
    ~StatusCapture() { session_.SetObserver({}); }
    void Forget() { replies_.Forget(session_.Line()); }
    std::optional<NozzleReply> Find(int dispenser, int nozzle) const {
        return replies_.Find(session_.Line(), dispenser, nozzle);
    }

private:
    Session& session_;
    StatusReplies replies_;
};

std::string Code(unsigned code) {
    char text[32];
    std::snprintf(text, sizeof text, "%u (0x%02X)", code, code);
    return text;
}

// "192 (0xC0) idle"
std::string State(std::uint8_t code) { return Code(code) + ' ' + NameDispenserState(code).text; }

void PrintStatus(const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    std::cout << "State: " << State(st.State) << "  StateNozzle: " << int{st.StateNozzle} << '\n';
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const std::optional<NozzleReply> p = capture.Find(a.dispenser, k);
        std::cout << "nozzle " << k << ": ";
        if (!p) {
            std::cout << "not polled\n";
            continue;
        }
        const auto state = static_cast<std::uint8_t>(st.NozzleStates[k - 1]);
        std::cout << "state " << State(state) << std::fixed << std::setprecision(3) << "  volume " << p->litres << " L"
                  << std::setprecision(2) << "  money " << p->money << '\n'
                  << std::defaultfloat;
    }
}

json StatusJson(Session& s, const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    json nozzles = json::array();
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const std::optional<NozzleReply> p = capture.Find(a.dispenser, k);
        json n{{"number", k}, {"polled", p.has_value()}};
        if (p) {
            n["state"] = StateJson(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
            n["volume"] = p->litres;
            n["money"] = p->money;
        }
        nozzles.push_back(std::move(n));
    }
    return {{"line", s.Line()},
            {"dispenser", a.dispenser},
            {"state", StateJson(st.State)},
            {"stateNozzle", st.StateNozzle},
            {"nozzles", std::move(nozzles)}};
}

// What one poll of watch saw, without its time: the states and each
// nozzle's values from its own status reply when the poll was good; the
// failure and its cause otherwise, with no values at all.
enum class Outcome { Good, BadReply, NoReply };

std::string WatchReading(Session& s, const CommandArgs& a, StatusCapture& capture, Outcome& outcome) {
    outcome = Outcome::NoReply;
    TDispenserStatus st{};
    capture.Forget();
    try {
        slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
    } catch (const ESerialIO& e) {
        const std::int32_t error = s.Port().GetLineError(static_cast<std::uint8_t>(s.Line()));
        return "no reply: " + ErrorText(e) + ", line error " + std::to_string(error) + ": " +
               port::DescribeLineError(error) + s.FaultCause();
    }
    if (const std::uint8_t result = s.LineResult(); result != 1) {
        outcome = Outcome::BadReply;
        const std::int32_t error = s.Port().GetLineError(static_cast<std::uint8_t>(s.Line()));
        return "bad reply (line result " + std::to_string(result) + "), line error " + std::to_string(error) + ": " +
               port::DescribeLineError(error);
    }
    outcome = Outcome::Good;
    std::string line = "State " + State(st.State);
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        line += "; nozzle " + std::to_string(k) + ": " + State(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
        char values[64] = ", —";
        if (const std::optional<NozzleReply> p = capture.Find(a.dispenser, k))
            std::snprintf(values, sizeof values, ", %.3f L, %.2f", p->litres, p->money);
        line += values;
    }
    return line;
}

}  // namespace

int RunStatus(Session& s, const CommandArgs& a) {
    s.Open();
    StatusCapture capture(s);
    TDispenserStatus st{};
    slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
    if (a.json) return EmitJson(s, a, StatusJson(s, st, capture, a));
    PrintStatus(st, capture, a);
    s.PrintLineResult(std::cout);
    return ResultCode(s);
}

// Until Ctrl-C (SIGTERM, SIGHUP) or --count polls; the exit code is the last
// poll's: the signal is watch's normal end.
int RunWatch(Session& s, const CommandArgs& a) {
    s.Open();
    StatusCapture capture(s);
    std::string last;
    int polls = 0;
    Outcome outcome = Outcome::NoReply;
    std::optional<std::chrono::system_clock::time_point> lastGood;
    // A line is printed when what it says changes, with the time of its poll:
    // a good reading's own time, or when a failure began.
    while (InterruptSignal() == 0 && (a.count <= 0 || polls < a.count)) {
        const std::string reading = WatchReading(s, a, capture, outcome);
        const auto now = std::chrono::system_clock::now();
        std::string line = reading;
        if (outcome == Outcome::Good) {
            lastGood = now;
        } else {
            line += "; no current values, last good reading " + (lastGood ? IsoTime(*lastGood) : std::string("none"));
        }
        if (line != last) std::cout << IsoTime(now) << ' ' << line << std::endl;
        last = line;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ClearInterrupt();
    s.PrintLineResult(std::cout);
    if (polls > 0 && outcome == Outcome::NoReply) return kExitExchangeFailed;
    return ResultCode(s);
}

// Exit code 0 when an address answers, 1 when none does.
int RunScan(Session& s, const CommandArgs& a) {
    s.Open();
    port::LineSettings quick = s.Settings();
    quick.response = std::chrono::milliseconds(100);
    s.Port().SetSettings(s.Line(), quick);
    json found = json::array();
    for (int address = 1; address <= 16 && InterruptSignal() == 0; ++address) {
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), 2 * address - 1, 1, st);
        } catch (const ESerialIO&) {
            continue;  // nothing at this address
        }
        const int result = s.LineResult();
        found.push_back({{"address", address}, {"dispensers", {2 * address - 1, 2 * address}}, {"lineResult", result}});
        if (!a.json)
            std::cout << "address " << address << ": answers (dispensers " << 2 * address - 1 << " and " << 2 * address
                      << "), line result " << result << '\n';
    }
    const bool any = !found.empty();
    if (a.json) {
        EmitJson(s, a, {{"answering", std::move(found)}});
    } else {
        std::cout << found.size() << " address(es) answer\n";
        s.PrintLineResult(std::cout);
    }
    return any ? kExitOk : kExitExchangeFailed;
}

void PrintStatistics(Session& s, std::ostream& out) {
    const port::LineStatistics st = s.Port().Statistics(s.Line());
    out << "line " << s.Line() << " statistics: exchanges " << st.exchanges << ", good " << st.good << ", bad "
        << st.bad << ", timeouts " << st.timeouts << ", device errors " << st.deviceErrors << ", reopens " << st.reopens
        << '\n';
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

// Exit code: 1 when a poll got no answer, else 3 when one was not good, else 0.
int RunStats(Session& s, const CommandArgs& a) {
    s.Open();
    const int asked = a.count > 0 ? a.count : 10;
    json failures = json::array();
    ExitCode code = kExitOk;
    int polls = 0;
    // Interrupted, it prints the statistics of the polls made.
    for (; polls < asked && InterruptSignal() == 0; ++polls) {
        const int i = polls;
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
            if (s.LineResult() != 1) code = Worse(code, kExitNotGood);
        } catch (const ESerialIO& e) {
            code = Worse(code, kExitExchangeFailed);
            const std::string failure = s.ExchangeFailure(ErrorText(e));
            failures.push_back({{"poll", i + 1}, {"error", failure}});
            if (!a.json) std::cout << "poll " << i + 1 << ": " << failure << '\n';
        }
    }
    const int signal = InterruptSignal();
    if (a.json) {
        CommandArgs withStatistics = a;
        withStatistics.stats = true;
        json doc{{"polls", polls}, {"failures", std::move(failures)}};
        if (signal != 0) doc["interrupted"] = SignalName(signal);
        EmitJson(s, withStatistics, std::move(doc));
    } else {
        if (signal != 0)
            std::cout << "interrupted by " << SignalName(signal) << " after " << polls << " of " << asked
                      << " poll(s)\n";
        PrintStatistics(s, std::cout);
        s.PrintLineResult(std::cout);
    }
    return signal != 0 ? kExitInterrupted : code;
}

}  // namespace zarvik::host
