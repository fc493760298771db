// bench_service [SECONDS] [LINES] [CLIENTS] [PAUSE_MS]: the station service
// under load, run by hand (not CTest). Starts LINES (32) zarvik-sim on
// pseudo-terminals (4 dispensers of 3 nozzles each, paced at 9600 baud, as
// bench_soak's), a station file naming them, and zarvikd on an ephemeral
// loopback port; then CLIENTS (20) threads read GET /api/v1/pumps over
// keep-alive connections for SECONDS (20), each pausing PAUSE_MS (0)
// between calls. Reported: the pumps call's latency (p50, p99, worst) and
// rate, every failed call, zarvikd's CPU over the run (utime + stime from
// /proc/PID/stat) and its RSS at the end, and per line the poll cycles and
// exchanges per second over the run (from /api/v1/lines) -- to be compared
// with bench_soak's (bench_soak SECONDS LINES: its cycle is 12 exchanges;
// zarvikd's also asks each nozzle for its own status). Meanwhile every line
// sells (a sale on each dispenser in turn) and FOLLOWERS (5) clients follow
// the event stream: the time from the poll that saw a pump change to its
// event's arrival is reported beside the poll cycle (EventLoad.h).
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EventLoad.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kToken = "bench-read-token-0123456789";
constexpr const char* kControlToken = "bench-control-token-0123456789";
constexpr int kFollowers = 5;
constexpr int kAddresses = 2;  // two dispensers each
constexpr int kNozzles = 3;

struct Child {
    pid_t pid = -1;
    int output = -1;  // its stdout and stderr
};

// Runs ARGV with stdout and stderr into a pipe; NICE for the simulators,
// which stand for hardware of their own and must not stall behind the load.
Child Spawn(const std::vector<std::string>& argv, int nice) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
    Child child;
    const pid_t parent = getpid();
    child.pid = fork();
    if (child.pid == 0) {
        // However the bench ends (a signal, a broken pipe), no child outlives it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        setpriority(PRIO_PROCESS, 0, nice);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    child.output = fds[0];
    return child;
}

// The next line the child prints; false at its end.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c = 0;
    ssize_t got = 0;
    while ((got = read(fd, &c, 1)) == 1 && c != '\n') line.push_back(c);
    return got == 1 || !line.empty();
}

void Stop(const Child& child) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
    close(child.output);
}

std::filesystem::path WriteStation(const std::filesystem::path& dir, const std::vector<std::string>& ptys) {
    nlohmann::json lines = nlohmann::json::array();
    for (std::size_t i = 0; i < ptys.size(); ++i) {
        nlohmann::json dispensers = nlohmann::json::array();
        for (int d = 1; d <= 2 * kAddresses; ++d) dispensers.push_back({{"number", d}, {"nozzles", kNozzles}});
        lines.push_back({{"line", i + 1}, {"device", ptys[i]}, {"dispensers", dispensers}});
    }
    const auto tokens = dir / "tokens";
    std::ofstream(tokens) << "read " << kToken << "\ncontrol " << kControlToken << "\n";
    std::filesystem::permissions(tokens, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const nlohmann::json station = {{"name", "bench"},
                                    {"lines", lines},
                                    {"service",
                                     {{"listen", "127.0.0.1:0"},
                                      {"tokens", tokens.string()},
                                      {"journal", {{"path", (dir / "sales.db").string()}}}}}};
    const auto path = dir / "station.json";
    std::ofstream(path) << station.dump(2);
    return path;
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// A keep-alive client: one handle, one connection, reused.
class Client {
public:
    explicit Client(int port) : base_("http://127.0.0.1:" + std::to_string(port)), curl_(curl_easy_init()) {
        headers_ = curl_slist_append(nullptr, (std::string("Authorization: Bearer ") + kToken).c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &body_);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 10L);
    }
    ~Client() {
        curl_slist_free_all(headers_);
        curl_easy_cleanup(curl_);
    }
    // The status (0: no answer); the body in Body().
    long Get(const std::string& path) {
        body_.clear();
        curl_easy_setopt(curl_, CURLOPT_URL, (base_ + path).c_str());
        long status = 0;
        if (curl_easy_perform(curl_) == CURLE_OK) curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
    const std::string& Body() const { return body_; }

private:
    std::string base_;
    CURL* curl_;
    curl_slist* headers_ = nullptr;
    std::string body_;
};

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));  // after "(comm) "
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // field 3 is the state
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") return (in >> value) ? value : 0;
        in.ignore(1 << 12, '\n');
    }
    return 0;
}

// What /api/v1/lines says of each line.
struct LineCounts {
    double cycles = 0, exchanges = 0, cycleMs = 0;
};

// Each line's counts so far; empty when the service did not answer.
std::vector<LineCounts> ReadLines(Client& client) {
    std::vector<LineCounts> counts;
    if (client.Get("/api/v1/lines") != 200) return counts;
    const auto lines = nlohmann::json::parse(client.Body(), nullptr, false);
    if (!lines.is_object() || !lines["lines"].is_array()) return counts;
    for (const auto& line : lines["lines"])
        counts.push_back({line.value("pollCycles", 0.0), line.value("exchanges", 0.0), line.value("cycleMs", 0.0)});
    return counts;
}

struct Load {
    std::vector<double> latenciesMs;
    std::uint64_t failures = 0;
    double wall = 0;
};

Load RunClients(int port, int clients, double seconds, int pauseMs) {
    Load load;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const auto began = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            Client client(port);
            std::vector<double> mine;
            std::uint64_t failures = 0;
            while (!stop.load()) {
                const auto start = Clock::now();
                const long status = client.Get("/api/v1/pumps");
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                if (status != 200 || client.Body().find("\"pumps\"") == std::string::npos) ++failures;
                if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            const std::lock_guard lock(mutex);
            load.latenciesMs.insert(load.latenciesMs.end(), mine.begin(), mine.end());
            load.failures += failures;
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads) t.join();
    load.wall = std::chrono::duration<double>(Clock::now() - began).count();
    return load;
}

double Percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Waits (30 s at most) until every line has finished a poll cycle.
bool WaitForPolling(Client& client, int lines) {
    for (int i = 0; i < 300; ++i) {
        const auto counts = ReadLines(client);
        if (static_cast<int>(counts.size()) == lines &&
            std::all_of(counts.begin(), counts.end(), [](const LineCounts& n) { return n.cycles >= 1; }))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

int StartService(const std::filesystem::path& station, Child& service) {
    service = Spawn({ZARVIKD, "--station", station.string(), "--library", ZARVIK_LIBRARY}, 0);
    constexpr std::string_view kListening = "listening on http://127.0.0.1:";
    std::string line;
    while (ReadLine(service.output, line)) {
        const auto at = line.find(kListening);
        if (at != std::string::npos) return std::atoi(line.c_str() + at + kListening.size());
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return 0;
}

void Report(Load& load, double cpu, long rss, const std::vector<LineCounts>& before,
            const std::vector<LineCounts>& after) {
    std::sort(load.latenciesMs.begin(), load.latenciesMs.end());
    std::printf("GET /api/v1/pumps: %zu calls in %.1f s (%.0f/s), %llu failed\n", load.latenciesMs.size(), load.wall,
                static_cast<double>(load.latenciesMs.size()) / load.wall,
                static_cast<unsigned long long>(load.failures));
    std::printf("latency p50 %.2f ms, p99 %.2f ms, worst %.2f ms\n", Percentile(load.latenciesMs, 0.5),
                Percentile(load.latenciesMs, 0.99), load.latenciesMs.empty() ? 0.0 : load.latenciesMs.back());
    std::printf("zarvikd CPU %.3f s per second (%.1f %% of one core), RSS at the end %ld KiB\n", cpu / load.wall,
                100.0 * cpu / load.wall, rss);
    if (before.size() != after.size() || after.empty()) {
        std::printf("poll cycles: /api/v1/lines did not answer\n");
        return;
    }
    double low = 1e9, sum = 0, exchanges = 0, cycleMs = 0;
    const auto n = static_cast<double>(after.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        const double rate = (after[i].cycles - before[i].cycles) / load.wall;
        low = std::min(low, rate);
        sum += rate;
        exchanges += (after[i].exchanges - before[i].exchanges) / load.wall / n;
        cycleMs += after[i].cycleMs / n;
    }
    std::printf("per line: %.2f poll cycles per second (lowest %.2f), %.1f exchanges per second, cycleMs %.1f\n",
                sum / n, low, exchanges, cycleMs);
}

void ReportEvents(EventLoad& events) {
    std::sort(events.latenciesMs.begin(), events.latenciesMs.end());
    std::printf("sales: %llu authorised, %llu refused; %d followers got %llu pump and %llu transaction events\n",
                static_cast<unsigned long long>(events.sales), static_cast<unsigned long long>(events.refused),
                kFollowers, static_cast<unsigned long long>(events.pumpEvents),
                static_cast<unsigned long long>(events.transactionEvents));
    std::printf("poll to event arrival: p50 %.2f ms, p99 %.2f ms, worst %.2f ms\n", Percentile(events.latenciesMs, 0.5),
                Percentile(events.latenciesMs, 0.99), events.latenciesMs.empty() ? 0.0 : events.latenciesMs.back());
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] < '0' || argv[i][0] > '9') {
            std::fprintf(stderr, "usage: bench_service [SECONDS] [LINES] [CLIENTS] [PAUSE_MS]\n");
            return 2;
        }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int lines = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 32) : 32;
    const int clients = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 256) : 20;
    const int pauseMs = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;
    curl_global_init(CURL_GLOBAL_DEFAULT);

    std::vector<Child> sims;
    std::vector<std::string> ptys;
    for (int i = 0; i < lines; ++i) {
        sims.push_back(
            Spawn({ZARVIK_SIM, "--addresses", std::to_string(kAddresses), "--nozzles", std::to_string(kNozzles)}, -10));
        std::string pty;
        ReadLine(sims.back().output, pty);
        ptys.push_back(pty);
    }
    char pattern[] = "/tmp/zarvik-bench-XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    Child service;
    const int port = StartService(WriteStation(dir, ptys), service);
    int exitCode = 1;
    if (port <= 0) {
        std::fprintf(stderr, "zarvikd did not say where it listens\n");
    } else {
        // The service's further output is drained so it never blocks on a full pipe.
        std::thread([fd = service.output] {
            std::string line;
            while (ReadLine(fd, line)) {
            }
        }).detach();
        Client probe(port);
        if (!WaitForPolling(probe, lines)) std::fprintf(stderr, "not every line finished a poll cycle\n");
        const auto before = ReadLines(probe);
        const double cpuBefore = CpuSeconds(service.pid);
        EventLoad events;
        std::thread sales(
            [&] { events = RunSalesAndFollowers(port, kControlToken, lines, 2 * kAddresses, kFollowers, seconds); });
        Load load = RunClients(port, clients, seconds, pauseMs);
        sales.join();
        const double cpu = CpuSeconds(service.pid) - cpuBefore;
        const auto after = ReadLines(probe);
        Report(load, cpu, RssKiB(service.pid), before, after);
        ReportEvents(events);
        std::printf("%d lines, %d clients pausing %d ms\n", lines, clients, pauseMs);
        exitCode = load.failures == 0 ? 0 : 1;
    }
    kill(service.pid, SIGTERM);
    waitpid(service.pid, nullptr, 0);
    for (const Child& sim : sims) Stop(sim);
    std::filesystem::remove_all(dir);
    curl_global_cleanup();
    return exitCode;
}
