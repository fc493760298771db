// bench_soak [SECONDS] [LINES]: a station-scale soak. Each line (32 by
// default) is served by a simulated station of its own, in a child process
// of its own, on a pseudo-terminal paced at 9600 baud; this process polls
// every line in parallel (one thread and one driver object per line, all
// over one SerialPortManager) for SECONDS (600 by default).
//
// A poll cycle asks each of the line's 4 dispensers for its 3 nozzles
// (operation 21: 12 exchanges). Reported: per line the cycle time as a
// ratio to the cycle's wire time at 9600 baud (bytes both ways x 10 bits),
// this process's CPU per second of polling, its RSS at the start and the
// end, and every error (must be 0: no faults are injected). The simulators
// run at a raised priority where allowed, as independent hardware would.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/DriverObject.h"
#include "port/SerialPortManager.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"
#include "zarvik/exceptions.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDispensers = 4;
constexpr int kNozzles = 3;
constexpr int kBaud = 9600;

long RssKiB() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return 0;
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A child serving one simulated station; the pty path comes back through a pipe.
pid_t StartSimulator(std::string& path) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // The dispensers are hardware of their own on a real line: their
        // pacing must not stall behind this machine's other work (a stall
        // longer than the inter-byte limit cuts a reply). Needs privilege;
        // without it the children run at the normal priority.
        setpriority(PRIO_PROCESS, 0, -10);
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        zarvik::sim::StationConfig config;
        config.addresses = {1, 2};
        config.nozzlesPerDispenser = kNozzles;
        zarvik::sim::Station station(config);
        zarvik::sim::EndpointOptions options;
        options.baud = kBaud;
        zarvik::sim::SerialEndpoint endpoint(station, options);
        const std::string name = endpoint.OpenPty() + "\n";
        endpoint.Start();
        if (write(fds[1], name.data(), name.size()) < 0) _exit(1);
        close(fds[1]);
        int signal = 0;
        sigwait(&stop, &signal);
        endpoint.Stop();
        _exit(0);
    }
    close(fds[1]);
    char buffer[128] = {};
    std::size_t got = 0;
    while (got < sizeof buffer - 1) {
        const ssize_t n = read(fds[0], buffer + got, sizeof buffer - 1 - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        if (buffer[got - 1] == '\n') break;
    }
    close(fds[0]);
    path.assign(buffer, got > 0 ? got - 1 : 0);
    return pid;
}

struct LineResult {
    std::uint64_t cycles = 0;
    std::uint64_t errors = 0;
    double totalSeconds = 0;
    double worstSeconds = 0;
    double wireSeconds = 0;  // of one cycle
};

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const int lines = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 32) : 32;

    std::vector<pid_t> children;
    std::vector<std::string> paths(static_cast<std::size_t>(lines));
    for (auto& path : paths) children.push_back(StartSimulator(path));

    zarvik::port::SerialPortManager port;
    std::vector<std::unique_ptr<zarvik::TVM30>> drivers;
    for (int line = 1; line <= lines; ++line) {
        port.SetDevice(line, paths[static_cast<std::size_t>(line - 1)]);
        drivers.emplace_back(zarvik::CreateDriver(0, 0, &port));
        if (drivers.back()->OpenPort(line) != 0) {
            std::fprintf(stderr, "line %d: cannot open %s: %s\n", line,
                         paths[static_cast<std::size_t>(line - 1)].c_str(), port.LineFault(line).text.c_str());
            return 1;
        }
    }

    std::atomic<bool> stop{false};
    std::vector<LineResult> results(static_cast<std::size_t>(lines));
    const long rssStart = RssKiB();
    const double cpuStart = CpuSeconds(RUSAGE_SELF);
    const auto began = Clock::now();
    std::vector<std::thread> threads;
    for (int line = 1; line <= lines; ++line) {
        threads.emplace_back([&, line] {
            zarvik::TVM30& driver = *drivers[static_cast<std::size_t>(line - 1)];
            LineResult& r = results[static_cast<std::size_t>(line - 1)];
            std::uint64_t wireBytes = 0;
            while (!stop.load()) {
                // The cycle's wire time comes from the first cycle's byte counts.
                const auto before = wireBytes == 0 ? port.Statistics(line) : zarvik::port::LineStatistics{};
                const auto start = Clock::now();
                for (int d = 1; d <= kDispensers; ++d) {
                    zarvik::TDispenserStatus st{};
                    try {
                        driver.GetDispenserStatus(line, d, kNozzles, st);
                        if (driver.GetLineResult(line) != 1) ++r.errors;
                    } catch (const zarvik::ESerialIO&) {
                        ++r.errors;
                    }
                }
                const double cycle = std::chrono::duration<double>(Clock::now() - start).count();
                if (wireBytes == 0) {
                    const auto after = port.Statistics(line);
                    wireBytes = after.bytesSent + after.bytesReceived - before.bytesSent - before.bytesReceived;
                    r.wireSeconds = static_cast<double>(wireBytes) * 10.0 / kBaud;
                }
                ++r.cycles;
                r.totalSeconds += cycle;
                r.worstSeconds = std::max(r.worstSeconds, cycle);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads) t.join();
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuStart;
    const long rssEnd = RssKiB();

    std::printf("%4s %8s %10s %10s %10s %10s %7s %9s %8s\n", "line", "cycles", "wire ms", "mean ms", "worst ms",
                "mean/wire", "worst/w", "port bad", "errors");
    std::uint64_t errors = 0, portBad = 0, cycles = 0;
    double worstRatio = 0, sumRatio = 0;
    for (int line = 1; line <= lines; ++line) {
        const auto& r = results[static_cast<std::size_t>(line - 1)];
        const auto stats = port.Statistics(line);
        const double mean = r.cycles ? r.totalSeconds / static_cast<double>(r.cycles) : 0;
        const double ratio = r.wireSeconds > 0 ? mean / r.wireSeconds : 0;
        const double worst = r.wireSeconds > 0 ? r.worstSeconds / r.wireSeconds : 0;
        std::printf("%4d %8llu %10.1f %10.1f %10.1f %10.3f %7.2f %9llu %8llu\n", line,
                    static_cast<unsigned long long>(r.cycles), r.wireSeconds * 1e3, mean * 1e3, r.worstSeconds * 1e3,
                    ratio, worst, static_cast<unsigned long long>(stats.bad),
                    static_cast<unsigned long long>(r.errors));
        for (const auto& [code, n] : stats.badByError)
            std::printf("     line %d: error %d x %llu\n", line, code, static_cast<unsigned long long>(n));
        if (stats.staleReplies + stats.foreignReplies != 0)
            std::printf("     line %d: stale %llu, foreign %llu\n", line,
                        static_cast<unsigned long long>(stats.staleReplies),
                        static_cast<unsigned long long>(stats.foreignReplies));
        errors += r.errors;
        portBad += stats.bad;
        cycles += r.cycles;
        sumRatio += ratio;
        worstRatio = std::max(worstRatio, worst);
    }
    std::printf("\n%d lines, %.0f s: %llu cycles, mean cycle/wire %.3f, worst cycle/wire %.2f\n", lines, wall,
                static_cast<unsigned long long>(cycles), sumRatio / lines, worstRatio);
    std::printf("host CPU %.3f s per second of polling (%.1f %% of one core)\n", cpu / wall, 100.0 * cpu / wall);
    std::printf("RSS at start %ld KiB, at end %ld KiB\n", rssStart, rssEnd);
    std::printf("errors %llu, port bad exchanges %llu\n", static_cast<unsigned long long>(errors),
                static_cast<unsigned long long>(portBad));

    for (int line = 1; line <= lines; ++line) port.CloseLine(line);
    for (const pid_t child : children) kill(child, SIGTERM);
    for (const pid_t child : children) waitpid(child, nullptr, 0);
    std::printf("simulators' CPU %.3f s per second\n", CpuSeconds(RUSAGE_CHILDREN) / wall);
    return errors == 0 && portBad == 0 ? 0 : 1;
}
