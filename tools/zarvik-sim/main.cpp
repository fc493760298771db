// zarvik-sim: serves a simulated filling station on a pseudo-terminal (its
// slave path goes to stdout) or on a serial device, until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "sim/SerialEndpoint.h"
#include "sim/Station.h"

namespace {

int Serve(zarvik::sim::Station& station, const zarvik::sim::EndpointOptions& options, const std::string& device) {
    // Block the stop signals before the endpoint thread starts so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    zarvik::sim::SerialEndpoint endpoint(station, options);
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
    const auto stats = station.Stats();
    std::cerr << "requests " << stats.requests << ", replies " << stats.replies << ", ignored " << stats.ignored
              << ", faults " << stats.faults << ", skipped bytes " << endpoint.Stats().skippedBytes << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated fuel dispensers on a serial line"};
    std::string device;
    zarvik::sim::EndpointOptions options;
    zarvik::sim::StationConfig config;
    bool noPacing = false;
    long turnaroundUs = 0;
    std::string fault = "none";
    double faultRate = 0.0;
    int faultNext = 0;
    std::uint32_t faultSeed = 1;
    long faultDelayMs = 1000;
    int fixedSequence = 0;
    int addresses = 2;

    app.add_option("--device", device, "serial device to serve (default: a new pseudo-terminal)");
    app.add_option("--baud", options.baud, "baud rate of the pacing and of a device")->capture_default_str();
    app.add_flag("--no-pacing", noPacing, "write replies at once instead of at the baud rate");
    app.add_option("--turnaround-us", turnaroundUs, "pause before each reply, microseconds")->capture_default_str();
    app.add_option("--addresses", addresses, "bus addresses 1..N, two dispensers each")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("--nozzles", config.nozzlesPerDispenser, "nozzles per dispenser")
        ->check(CLI::Range(1, 6))
        ->capture_default_str();
    app.add_option("--flow", config.timing.flowLitresPerSecond, "flow rate, litres per second")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--eps", config.meterError, "meter error of every nozzle (0.01 = +1 %)")->capture_default_str();
    app.add_flag("!--no-clear", config.clearAfterHangUp, "go idle on hang-up instead of waiting for 0x98");
    app.add_option("--fault", fault,
                   "fault mode: none drop checksum length start-byte truncate noise delay refuse-start "
                   "refuse-stop refuse-write sequence address fixed-sequence")
        ->capture_default_str();
    app.add_option("--fault-rate", faultRate, "probability of the fault per reply")->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-next", faultNext, "fault the next N replies instead")->check(CLI::NonNegativeNumber);
    app.add_option("--fault-seed", faultSeed, "seed of the fault generator")->capture_default_str();
    app.add_option("--fault-delay-ms", faultDelayMs, "lateness of a delayed reply")->capture_default_str();
    app.add_option("--fixed-sequence", fixedSequence,
                   "sequence byte of the fixed-sequence fault (a dispenser that never echoes)")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    const auto mode = zarvik::sim::ParseFault(fault);
    if (!mode) {
        std::cerr << "unknown fault mode: " << fault << '\n';
        return 2;
    }
    config.addresses.clear();
    for (int a = 1; a <= addresses; ++a) config.addresses.push_back(static_cast<std::uint8_t>(a));
    options.pacing = !noPacing;
    options.turnaround = std::chrono::microseconds(turnaroundUs);
    try {
        zarvik::sim::Station station(config);
        station.SetFaultDelay(std::chrono::milliseconds(faultDelayMs));
        station.SetFixedSequence(static_cast<std::uint8_t>(fixedSequence));
        if (faultNext > 0) {
            station.SetFaultNext(*mode, faultNext);
        } else {
            station.SetFaultRate(*mode, faultRate, faultSeed);
        }
        return Serve(station, options, device);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-sim: " << e.what() << '\n';
        return 1;
    }
}
