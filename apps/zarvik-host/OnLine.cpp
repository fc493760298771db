#include "OnLine.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "Output.h"
#include "hostkit/Console.h"
#include "hostkit/DecimalText.h"
#include "station/StationChoice.h"

namespace zarvik::host {

namespace {

constexpr const char* kOneNozzle =
    "one nozzle: its number (a count of nozzles is --nozzles/-n, for status, watch, stats)";
constexpr const char* kNozzleCount =
    "a count: how many nozzles to poll (with --station: the dispenser's); one nozzle is --nozzle/-k";

void Dispenser(CLI::App& c, Cli& cli, bool required) {
    auto* o =
        c.add_option("--dispenser,-d", cli.args.dispenser, "dispenser number on the line")->check(CLI::Range(1, 32));
    if (required) o->required();
}

}  // namespace

void NozzlesOptions(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, false);
    c.add_option("--nozzles,-n", cli.args.nozzles, kNozzleCount)->check(CLI::Range(1, 6));
}

void TargetOptions(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, true);
    c.add_option("--nozzle,-k", cli.args.nozzle, kOneNozzle)->check(CLI::Range(1, 6))->required();
}

void TargetValueOptions(CLI::App& c, Cli& cli) {
    TargetOptions(c, cli);
    c.add_option("VALUE", cli.value, "the value: digits with one decimal point or comma (56.30 or 56,30)")->required();
}

void NozzleOptions(CLI::App& c, Cli& cli) {
    Dispenser(c, cli, false);
    c.add_option("--nozzle,-k", cli.args.nozzle, kOneNozzle)->check(CLI::Range(1, 6));
}

void AddressOptions(CLI::App& c, Cli& cli) {
    c.add_option("--address,-a", cli.args.address, "bus address")->check(CLI::Range(1, 255));
}

void CheckLine(Invocation& in) {
    if (!in.station) return;
    Cli& cli = in.cli;
    const StationLine& line = ChooseLine(*in.station, in.Line());
    cli.session.device = line.device;
    cli.session.line = line.line;
    cli.session.settings = line.settings;
    if (in.command.get_option_no_throw("--dispenser") == nullptr) return;
    LineTarget target;
    target.dispenser = cli.args.dispenser;
    if (const CLI::Option* n = in.command.get_option_no_throw("--nozzles")) {
        target.nozzles = &cli.args.nozzles;
        target.nozzlesGiven = n->count() > 0;
    }
    if (in.command.get_option_no_throw("--nozzle") != nullptr) target.nozzle = cli.args.nozzle;
    CheckLineTarget(*in.station, line, target);
}

namespace {

void NeedDevice(const Invocation& in) {
    if (in.cli.session.device.empty()) throw UsageError("no device: give --port DEVICE or --station FILE");
}

}  // namespace

void CheckDevice(Invocation& in) {
    CheckLine(in);
    NeedDevice(in);
}

void CheckValue(Invocation& in) {
    CheckLine(in);
    const DecimalReading value = ReadDecimalText(in.cli.value);
    if (!value.value) throw UsageError(in.command.get_name() + ": VALUE " + value.error);
    in.cli.args.value = *value.value;
    NeedDevice(in);
}

int RunOnSession(const Invocation& in, SessionRun run) {
    const Cli& cli = in.cli;
    Session s(cli.session);
    try {
        const int code = run(s, cli.args);
        if (cli.args.stats && !cli.args.json) PrintStatistics(s, std::cout);
        return code;
    } catch (const std::exception& e) {
        if (dynamic_cast<const zarvik::ESerialIO*>(&e) != nullptr)
            std::cerr << "zarvik-host: " << s.ExchangeFailure(ErrorText(e)) << '\n';
        else
            std::cerr << "zarvik-host: " << ErrorText(e) << '\n';
        if (cli.args.stats) PrintStatistics(s, cli.args.json ? std::cerr : std::cout);
        return ExitCodeOf(e);
    }
}

}  // namespace zarvik::host
