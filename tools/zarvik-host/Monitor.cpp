// The commands that look at a line without changing anything: status,
// watch, scan and stats.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <thread>

#include "Commands.h"
#include "Console.h"
#include "DriverSlots.h"
#include "ExitCodes.h"
#include "JsonOutput.h"
#include "StateNames.h"
#include "port/PortErrors.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

namespace proto = zarvik::protocol;

// What the status replies of one poll carried, by nozzle byte: the values
// the driver stored for each nozzle it polled.
struct PolledNozzle {
    double volume = 0.0;
    double money = 0.0;
    int status = -1;
};

class StatusCapture {
public:
    explicit StatusCapture(Session& s) : session_(s) {
        session_.SetObserver([this](const port::FrameTraceEvent& e) {
            const std::uint8_t* bytes = e.bytes.data();
            const std::size_t length = e.bytes.size();
            if (e.direction == port::FrameDirection::Sent) {
                pending_ = length > proto::kOffsetNozzle && bytes[proto::kOffsetCommand] == proto::kCmdStatus
                               ? bytes[proto::kOffsetNozzle]
                               : -1;
            } else if (e.direction == port::FrameDirection::Received && pending_ >= 0 &&
                       proto::IsWholeFrame(bytes, length)) {
                if (const auto status = proto::DecodeStatusReply(bytes, length)) {
                    polled_[pending_] = {status->volume / 1000.0, status->money / 100.0, status->code};
                    pending_ = -1;
                }
            }
        });
    }
    ~StatusCapture() { session_.SetObserver({}); }
    const PolledNozzle* Find(int dispenser, int nozzle) const {
        const auto it = polled_.find(proto::DispenserAddress(dispenser, nozzle).nozzle);
        return it == polled_.end() ? nullptr : &it->second;
    }

private:
    Session& session_;
    int pending_ = -1;
    std::map<int, PolledNozzle> polled_;
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
        const PolledNozzle* p = capture.Find(a.dispenser, k);
        std::cout << "nozzle " << k << ": ";
        if (p == nullptr) {
            std::cout << "not polled\n";
            continue;
        }
        const auto state = static_cast<std::uint8_t>(st.NozzleStates[k - 1]);
        std::cout << "state " << State(state) << std::fixed << std::setprecision(3) << "  volume " << p->volume << " L"
                  << std::setprecision(2) << "  money " << p->money << '\n'
                  << std::defaultfloat;
    }
}

json StatusJson(Session& s, const TDispenserStatus& st, const StatusCapture& capture, const CommandArgs& a) {
    json nozzles = json::array();
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const PolledNozzle* p = capture.Find(a.dispenser, k);
        json n{{"number", k}, {"polled", p != nullptr}};
        if (p != nullptr) {
            n["state"] = StateJson(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
            n["volume"] = p->volume;
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

std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted = true; }

// One line of watch: the states, the delivery values and a line result
// that is not good; "no answer: ..." when the exchange failed.
std::string WatchLine(Session& s, const CommandArgs& a, bool& answered) {
    answered = false;
    TDispenserStatus st{};
    try {
        slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
        std::string line = "State " + State(st.State) + ", nozzles";
        for (int k = 1; k <= a.nozzles && k <= 6; ++k)
            line += " " + State(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
        double volume = 0, money = 0;
        slots::GetDeliveryValues(s.Driver(), s.Line(), a.dispenser, volume, money);
        char values[64];
        std::snprintf(values, sizeof values, ", %.3f L, %.2f", volume, money);
        line += values;
        if (s.LineResult() != 1) line += ", line result " + std::to_string(s.LineResult());
        answered = true;
        return line;
    } catch (const ESerialIO& e) {
        return "no answer: " + ErrorText(e);
    }
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

// Until Ctrl-C or --count polls; the exit code is the last poll's.
int RunWatch(Session& s, const CommandArgs& a) {
    s.Open();
    g_interrupted = false;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::string last;
    int polls = 0;
    bool answered = false;
    while (!g_interrupted && (a.count <= 0 || polls < a.count)) {
        const std::string line = WatchLine(s, a, answered);
        if (line != last) std::cout << line << std::endl;
        last = line;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    s.PrintLineResult(std::cout);
    if (polls > 0 && !answered) return kExitExchangeFailed;
    return ResultCode(s);
}

// Exit code 0 when an address answers, 1 when none does.
int RunScan(Session& s, const CommandArgs& a) {
    s.Open();
    port::LineSettings quick = s.Settings();
    quick.response = std::chrono::milliseconds(100);
    s.Port().SetSettings(s.Line(), quick);
    json found = json::array();
    for (int address = 1; address <= 16; ++address) {
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
    const int polls = a.count > 0 ? a.count : 10;
    json failures = json::array();
    ExitCode code = kExitOk;
    for (int i = 0; i < polls; ++i) {
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
            if (s.LineResult() != 1) code = Worse(code, kExitNotGood);
        } catch (const ESerialIO& e) {
            code = Worse(code, kExitExchangeFailed);
            failures.push_back({{"poll", i + 1}, {"error", ErrorText(e)}});
            if (!a.json) std::cout << "poll " << i + 1 << ": " << ErrorText(e) << '\n';
        }
    }
    if (a.json) {
        CommandArgs withStatistics = a;
        withStatistics.stats = true;
        EmitJson(s, withStatistics, {{"polls", polls}, {"failures", std::move(failures)}});
    } else {
        PrintStatistics(s, std::cout);
        s.PrintLineResult(std::cout);
    }
    return code;
}

}  // namespace zarvik::host
