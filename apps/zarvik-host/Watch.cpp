// watch: live status until Ctrl-C, a line printed when what it says changes.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "OnLine.h"
#include "Output.h"
#include "StatusCapture.h"
#include "hostkit/Console.h"
#include "hostkit/Interrupt.h"
#include "hostkit/IsoTime.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

void WatchOptions(CLI::App& c, Cli& cli) {
    NozzlesOptions(c, cli);
    c.add_option("--count", cli.args.count, "stop after this many polls (0: until Ctrl-C)");
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
    std::string line = "State " + StateText(st.State);
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        line += "; nozzle " + std::to_string(k) + ": " + StateText(static_cast<std::uint8_t>(st.NozzleStates[k - 1]));
        char values[64] = ", —";
        if (const std::optional<NozzleReply> p = capture.Find(a.dispenser, k))
            std::snprintf(values, sizeof values, ", %.3f L, %.2f", p->litres, p->money);
        line += values;
    }
    return line;
}

}  // namespace

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
    PrintLineResult(s, std::cout);
    if (polls > 0 && outcome == Outcome::NoReply) return kExitExchangeFailed;
    return ResultCode(s);
}

extern const Command kWatchCommand{
    "watch", "live status until Ctrl-C", WatchOptions, CheckDevice, OnSession<RunWatch>, false, false};

}  // namespace zarvik::host
