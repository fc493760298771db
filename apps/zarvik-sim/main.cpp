// zarvik-sim: serves a simulated filling station on a pseudo-terminal (its
// slave path goes to stdout) or on a serial device, until SIGINT or SIGTERM.
// Exit codes: 0 stopped by a signal (or --help, --version), 1 a failure
// (device, capture), 2 a usage error.
// With --replay FILE it serves a recorded line instead (see
// capture/ReplayMatcher.h): each request gets the reply recorded for it.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "capture/CaptureReader.h"
#include "capture/ReplayMatcher.h"
#include "sim/Console.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace {

// Serves until SIGINT or SIGTERM, then prints `report()` on stderr.
int Serve(zarvik::sim::SerialEndpoint& endpoint, const std::string& device, const std::function<void()>& report) {
    // Block the stop signals before the endpoint thread starts so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (device.empty()) {
        std::cout << endpoint.OpenPty() << std::endl;
    } else {
        endpoint.OpenDevice(device);
        std::cout << device << std::endl;
    }
    endpoint.Start();
    int signal = 0;
    sigwait(&signals, &signal);
    endpoint.Stop();
    report();
    return 0;
}

// --console: the keypad commands (sim/Console.h) from stdin, one answer a
// line on stdout, until stdin ends. The thread is left to the process's end
// (it may be blocked reading) and keeps the station alive as long.
void StartConsole(std::shared_ptr<zarvik::sim::Station> station) {
    std::thread([station] {
        for (std::string command; std::getline(std::cin, command);)
            std::cout << zarvik::sim::RunConsoleCommand(*station, command, zarvik::sim::SimClock::now()) << std::endl;
    }).detach();
}

int ServeStation(const zarvik::sim::StationConfig& config, const zarvik::sim::EndpointOptions& options,
                 const std::string& device, bool console, const std::function<void(zarvik::sim::Station&)>& setUp) {
    const auto station = std::make_shared<zarvik::sim::Station>(config);
    setUp(*station);
    if (console) StartConsole(station);
    zarvik::sim::SerialEndpoint endpoint(*station, options);
    return Serve(endpoint, device, [&] {
        const auto stats = station->Stats();
        std::cerr << "requests " << stats.requests << ", replies " << stats.replies << ", ignored " << stats.ignored
                  << ", faults " << stats.faults << ", skipped bytes " << endpoint.Stats().skippedBytes << '\n';
    });
}

// The line of the capture to replay: the one asked for, or the only one there is.
std::uint8_t ReplayLine(const std::vector<zarvik::capture::CaptureRecord>& records, int asked,
                        const std::string& file) {
    const auto lines = zarvik::capture::LinesIn(records);
    if (asked != 0) {
        if (lines.count(static_cast<std::uint8_t>(asked)) == 0)
            throw std::runtime_error(file + " holds no frame of line " + std::to_string(asked));
        return static_cast<std::uint8_t>(asked);
    }
    if (lines.empty()) throw std::runtime_error(file + " holds no frames");
    if (lines.size() > 1) {
        std::ostringstream names;
        for (const auto line : lines) names << (names.tellp() > 0 ? ", " : "") << int{line};
        throw std::runtime_error(file + " holds lines " + names.str() + ": choose one with --replay-line");
    }
    return *lines.begin();
}

int ServeReplay(const std::string& file, int line, bool recordedTiming, const zarvik::sim::EndpointOptions& options,
                const std::string& device) {
    const zarvik::capture::CaptureFile capture = zarvik::capture::ReadCapture(file);
    if (capture.truncated) std::cerr << "zarvik-sim: " << file << " ends inside a record; replaying what is whole\n";
    const std::uint8_t replayed = ReplayLine(capture.records, line, file);
    zarvik::capture::ReplayMatcher matcher(capture.records, replayed);
    std::cerr << "replaying line " << int{replayed} << " of " << file << ": " << matcher.Stats().recordedPairs
              << " recorded requests\n";
    const int baud = options.baud;
    zarvik::sim::SerialEndpoint endpoint(
        [&matcher, recordedTiming, baud](const std::uint8_t* frame, std::size_t length,
                                         zarvik::sim::TimePoint) -> std::optional<zarvik::sim::Reply> {
            auto answer = matcher.Answer(frame, length);
            if (!answer) return std::nullopt;
            zarvik::sim::Reply reply;
            if (recordedTiming) {
                reply.delay = std::chrono::duration_cast<std::chrono::milliseconds>(
                    zarvik::capture::RecordedTurnaround(answer->recordedTime, length, answer->bytes.size(), baud));
            }
            reply.bytes = std::move(answer->bytes);
            return reply;
        },
        options);
    return Serve(endpoint, device, [&] {
        // The endpoint thread has stopped: the matcher is ours again.
        const auto& stats = matcher.Stats();
        std::cerr << "requests " << stats.requests << ", replayed " << stats.answered << ", unanswered as recorded "
                  << stats.notAnswered << ", not in the recording " << stats.unmatched << '\n';
    });
}

// Everything the command line sets.
struct SimOptions {
    std::string device;
    zarvik::sim::EndpointOptions endpoint;
    zarvik::sim::StationConfig config;
    bool noPacing = false;
    long turnaroundUs = 0;
    int addresses = 2;
    std::string fault = "none";
    double faultRate = 0.0;
    int faultNext = 0;
    std::uint32_t faultSeed = 1;
    long faultDelayMs = 1000;
    int fixedSequence = 0;
    std::string replay;
    int replayLine = 0;
    bool replayTiming = false;
    bool console = false;
    std::string deliveryLog;
};

void AddStationOptions(CLI::App& app, SimOptions& o) {
    app.add_option("--device", o.device, "serial device to serve (default: a new pseudo-terminal)");
    app.add_option("--baud", o.endpoint.baud, "baud rate of the pacing and of a device")->capture_default_str();
    app.add_flag("--no-pacing", o.noPacing, "write replies at once instead of at the baud rate");
    app.add_option("--turnaround-us", o.turnaroundUs, "pause before each reply, microseconds")->capture_default_str();
    app.add_option("--addresses", o.addresses, "bus addresses 1..N, two dispensers each")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("--nozzles", o.config.nozzlesPerDispenser, "nozzles per dispenser")
        ->check(CLI::Range(1, 6))
        ->capture_default_str();
    app.add_option("--flow", o.config.timing.flowLitresPerSecond, "flow rate, litres per second")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--eps", o.config.meterError, "meter error of every nozzle (0.01 = +1 %)")->capture_default_str();
    app.add_flag("!--no-clear", o.config.clearAfterHangUp, "go idle on hang-up instead of waiting for 0x98");
    app.add_flag("--console", o.console,
                 "read keypad commands on stdin: deliver D N LITRES, lift D N, hang D N, show D N (each answers "
                 "ok or error)");
    app.add_option("--delivery-log", o.deliveryLog,
                   "append a line for every delivery's start (\"start D N\") and end (\"end D N VOLUME MONEY "
                   "TOTAL\") to this file");
}

void AddFaultOptions(CLI::App& app, SimOptions& o) {
    app.add_option("--fault", o.fault,
                   "fault mode: none drop checksum length start-byte truncate noise delay refuse-start "
                   "refuse-stop refuse-write sequence address fixed-sequence duplicate other-nozzle other-command "
                   "local-echo refusal late-non-echoing")
        ->capture_default_str();
    app.add_option("--fault-rate", o.faultRate, "probability of the fault per reply")->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-next", o.faultNext, "fault the next N replies instead")->check(CLI::NonNegativeNumber);
    app.add_option("--fault-seed", o.faultSeed, "seed of the fault generator")->capture_default_str();
    app.add_option("--fault-delay-ms", o.faultDelayMs, "lateness of a delayed reply")->capture_default_str();
    app.add_option("--fixed-sequence", o.fixedSequence,
                   "sequence byte of the fixed-sequence fault (a dispenser that never echoes)")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
}

void AddReplayOptions(CLI::App& app, SimOptions& o) {
    CLI::Option* replay =
        app.add_option("--replay", o.replay,
                       "answer each request with the reply recorded for it in this capture (zarvik-host --capture); "
                       "a request the capture does not hold gets no reply")
            ->check(CLI::ExistingFile);
    app.add_option("--replay-line", o.replayLine, "the line of the capture to replay (default: its only line)")
        ->check(CLI::Range(1, 32))
        ->needs(replay);
    app.add_flag("--replay-timing", o.replayTiming, "wait before each reply as long as the recorded dispenser did")
        ->needs(replay);
    for (const char* fault : {"--fault", "--fault-rate", "--fault-next", "--console"})
        app.get_option(fault)->excludes(replay);
}

// The simulator's own record of what it delivered, a line each, written at
// once (a test reads it while the simulator runs, or after killing it).
void StartDeliveryLog(zarvik::sim::Station& station, const std::string& path) {
    auto file = std::shared_ptr<std::FILE>(std::fopen(path.c_str(), "a"), [](std::FILE* f) {
        if (f != nullptr) std::fclose(f);
    });
    if (!file) throw std::runtime_error("delivery log " + path + ": cannot be opened");
    station.SetDeliveryLog([file](const zarvik::sim::DeliveryRecord& r) {
        if (r.started)
            std::fprintf(file.get(), "start %d %d\n", r.dispenser, r.nozzle);
        else
            std::fprintf(file.get(), "end %d %d %.3f %.2f %.3f\n", r.dispenser, r.nozzle, r.volume / 1000.0,
                         r.money / 100.0, r.total / 1000.0);
        std::fflush(file.get());
    });
}

int Run(SimOptions& o, zarvik::sim::FaultMode mode) {
    o.config.addresses.clear();
    for (int a = 1; a <= o.addresses; ++a) o.config.addresses.push_back(static_cast<std::uint8_t>(a));
    o.endpoint.pacing = !o.noPacing;
    o.endpoint.turnaround = std::chrono::microseconds(o.turnaroundUs);
    if (!o.replay.empty()) return ServeReplay(o.replay, o.replayLine, o.replayTiming, o.endpoint, o.device);
    return ServeStation(o.config, o.endpoint, o.device, o.console, [&](zarvik::sim::Station& station) {
        if (!o.deliveryLog.empty()) StartDeliveryLog(station, o.deliveryLog);
        station.SetFaultDelay(std::chrono::milliseconds(o.faultDelayMs));
        station.SetFixedSequence(static_cast<std::uint8_t>(o.fixedSequence));
        if (o.faultNext > 0) {
            station.SetFaultNext(mode, o.faultNext);
        } else {
            station.SetFaultRate(mode, o.faultRate, o.faultSeed);
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated fuel dispensers on a serial line"};
    SimOptions options;
    AddStationOptions(app, options);
    AddFaultOptions(app, options);
    AddReplayOptions(app, options);
    app.set_version_flag("--version", "zarvik-sim " ZARVIK_VERSION, "the simulator's version, then exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version print and succeed; every parse error is a usage error (2), as in zarvik-host.
        return app.exit(e) == 0 ? 0 : 2;
    }

    const auto mode = zarvik::sim::ParseFault(options.fault);
    if (!mode) {
        std::cerr << "zarvik-sim: unknown fault mode: " << options.fault << '\n';
        return 2;
    }
    try {
        return Run(options, *mode);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-sim: " << e.what() << '\n';
        return 1;
    }
}
