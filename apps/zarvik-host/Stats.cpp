// stats: polls a dispenser and prints the line statistics.
#include <CLI/CLI.hpp>
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "hostkit/Console.h"
#include "hostkit/Interrupt.h"
#include "loader/DriverSlots.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

void StatsOptions(CLI::App& c, Cli& cli) {
    NozzlesOptions(c, cli);
    c.add_option("--polls", cli.args.count, "how many polls")->check(CLI::Range(1, 100000));
}

}  // namespace

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
        PrintLineResult(s, std::cout);
    }
    return signal != 0 ? kExitInterrupted : code;
}

extern const Command kStatsCommand{
    "stats", "poll and print the line statistics", StatsOptions, CheckDevice, OnSession<RunStats>, true, false};

}  // namespace zarvik::host
