// zarvikd: the station service. Reads the station file (default
// /etc/zarvik/station.json), owns its lines (a worker per line polls every
// dispenser continuously) and serves their live state over HTTP under
// /api/v1 until SIGTERM or SIGINT. --check-config reads the configuration
// and says whether it is usable. Exit codes: 0 stopped by a signal (or the
// configuration is OK), 2 a usage error, 4 a configuration that cannot be
// used (the cause on stderr).
#include <syslog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "Config.h"
#include "Lifecycle.h"
#include "OpenApi.h"
#include "TelemetryWiring.h"
#include "UiDir.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/VisibleText.h"
#include "httpserver/HttpServer.h"
#include "httpserver/StaticFiles.h"
#include "journal/Journal.h"
#include "service/Api.h"
#include "service/EventRoutes.h"
#include "service/PumpEvents.h"
#include "service/SalesJournal.h"
#include "service/Service.h"
#include "service/TransactionRoutes.h"

namespace zarvik::zarvikd {
namespace {

constexpr time_t kTickSeconds = 1;
constexpr auto kStallSeconds = std::chrono::seconds(60);
// The events kept for clients that reconnect (a few minutes of a busy station).
constexpr std::size_t kEventRing = 4096;
constexpr auto kPruneEvery = std::chrono::hours(1);
// Fault injection for the crash test only: a pause between a new sale's
// commit and its first command, in milliseconds.
constexpr const char* kPauseVariable = "ZARVIKD_TEST_PAUSE_AFTER_COMMIT_MS";

struct Options {
    std::string station = "/etc/zarvik/station.json";
    std::string library;
    std::string uiDir = DefaultUiDir();
    bool checkConfig = false;
};

int CheckConfig(const Options& o) {
    const Config config = ReadConfig(o.station);
    std::size_t dispensers = 0;
    for (const auto& line : config.station.lines) dispensers += line.dispensers.size();
    std::cout << "configuration OK: " << config.station.lines.size() << " lines, " << dispensers << " dispensers"
              << std::endl;
    return 0;
}

void LogListening(const http::Logger& log, const http::ServerSettings& s, int port) {
    if (!s.listen.empty()) {
        std::string host;
        int configured = 0;
        http::SplitListenAddress(s.listen, host, configured);
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        log(LOG_INFO, std::string("listening on ") + (s.certificate.empty() ? "http" : "https") + "://" + host + ":" +
                          std::to_string(port));
    }
    if (!s.unixSocket.empty()) log(LOG_INFO, "listening on unix:" + s.unixSocket);
}

// Waits for SIGTERM or SIGINT (blocked in every thread), feeding the
// watchdog every tick while every line worker has ended a poll within
// kStallSeconds: a poll waits on the wire and a read through the worker
// (descriptions of every table) holds its polls up for a while, so only a
// worker that stays put that long counts as hung.
// Prunes the acknowledged sales older than the configured age every
// kPruneEvery (and once at start).
void AwaitStop(const sigset_t& signals, const service::Service& service, const std::function<void()>& prune) {
    std::uint64_t seen = service.LeastProgress();
    auto moved = std::chrono::steady_clock::now();
    auto pruned = std::chrono::steady_clock::now() - kPruneEvery;
    const timespec tick{kTickSeconds, 0};
    for (;;) {
        if (std::chrono::steady_clock::now() - pruned >= kPruneEvery) {
            prune();
            pruned = std::chrono::steady_clock::now();
        }
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGTERM || signal == SIGINT) return;
        const std::uint64_t now = service.LeastProgress();
        if (now != seen || service.Station().lines.empty()) moved = std::chrono::steady_clock::now();
        seen = now;
        if (std::chrono::steady_clock::now() - moved < kStallSeconds) NotifyWatchdog();
    }
}

journal::Journal OpenJournal(const std::string& path) {
    try {
        return journal::Journal::Open(path);
    } catch (const journal::JournalError& e) {
        throw host::HostError(host::kExitConfig, e.what());
    }
}

int Serve(const Options& o, const sigset_t& signals) {
    const http::Logger log = MakeLogger();
    Config config = ReadConfig(o.station);
    const auto startedAt = std::chrono::system_clock::now();
    // Numbered from the start time, so an earlier run's numbers are behind the ring.
    service::EventBus bus(
        kEventRing, static_cast<std::uint64_t>(
                        std::chrono::duration_cast<std::chrono::microseconds>(startedAt.time_since_epoch()).count()));
    service::Tickets tickets;
    service::Service lines(config.station, o.library, log);
    lines.OnPumpChanged(
        service::PumpEventPublisher(lines.Station(), bus, [] { return std::chrono::system_clock::now(); }));
    journal::Journal journal = OpenJournal(config.journal.path);
    service::SalesJournal sales(journal, log);
    const auto publishSale = [&bus](const journal::Sale& sale) {
        bus.Publish([&sale](std::uint64_t seq) {
            return service::TransactionEventText(seq, std::chrono::system_clock::now(), sale);
        });
    };
    sales.OnChanged(publishSale);
    if (const char* pause = std::getenv(kPauseVariable))
        sales.PauseAfterCommit(std::chrono::milliseconds(std::atol(pause)));
    if (const std::size_t open = sales.Recover())
        log(LOG_NOTICE,
            std::to_string(open) + " sales left open by the last run: reconciled on their dispensers' first good poll");
    lines.SetRecorder(sales);
    const service::TransactionRoutes transactions(journal, publishSale);
    service::Api api(lines.Station(), lines.State(), lines, {ZARVIK_VERSION, startedAt, lines.DriverInfo(), kOpenApi});
    api.SetControl(lines);
    // Head office's telemetry: pumps, lines, totals, every ended sale from the journal, prices from commands.
    std::optional<TelemetryWiring> telemetry;
    if (config.telemetry) {
        telemetry.emplace(*config.telemetry, lines, api, &journal, log);
        sales.OnChanged([t = &*telemetry](const journal::Sale& sale) { t->SaleChanged(sale); });
    }
    const service::EventRoutes events(bus, tickets);
    const http::StaticFiles page(o.uiDir);
    if (access((o.uiDir + "/index.html").c_str(), R_OK) != 0)
        log(LOG_WARNING, "no page to serve: " + host::VisibleText(o.uiDir) + "/index.html cannot be read");
    http::HttpServer server(
        config.settings, std::move(config.tokens),
        [&api, &events, &transactions, &page](const http::Request& request) {
            if (auto response = page.Handle(request)) return std::move(*response);
            if (auto response = events.Handle(request)) return std::move(*response);
            if (auto response = transactions.Handle(request)) return std::move(*response);
            return api.Handle(request);
        },
        log);
    server.ServePublic(http::StaticFiles::Serves);
    server.AcceptTickets(std::string(service::kEventsPath),
                         [&tickets](std::string_view ticket) { return tickets.Redeem(ticket); });
    lines.Start();
    server.Start();
    if (telemetry) telemetry->Telemetry().Start();
    LogListening(log, config.settings, server.Port());
    NotifyReady("serving " + std::to_string(config.station.lines.size()) + " lines");
    const auto keep = std::chrono::hours(24) * config.journal.keepAcknowledgedDays;
    AwaitStop(signals, lines, [&] {
        try {
            // With telemetry, a sale head office has not had yet stays.
            if (const int pruned = journal.Prune(std::chrono::system_clock::now() - keep, config.telemetry.has_value()))
                log(LOG_INFO, "sales journal: " + std::to_string(pruned) + " acknowledged sales pruned");
        } catch (const journal::JournalError& e) {
            log(LOG_WARNING, std::string("sales journal: prune: ") + e.what());
        }
    });
    NotifyStopping();
    log(LOG_INFO, "stopping");
    server.Stop();
    if (telemetry) telemetry->Telemetry().Stop();
    lines.Stop();
    return 0;
}

}  // namespace
}  // namespace zarvik::zarvikd

int main(int argc, char** argv) {
    using namespace zarvik;
    CLI::App app{"zarvikd: the station service (live state of the dispensers over HTTP)"};
    zarvikd::Options options;
    app.add_option("--station", options.station, "the station file")->capture_default_str();
    app.add_option("--library", options.library, "the driver library (default: the installed one)");
    app.add_option("--ui-dir", options.uiDir, "the forecourt page's files, served at / and /ui/")
        ->capture_default_str();
    app.add_flag("--check-config", options.checkConfig,
                 "read the station file, its service section, the token file and TLS files, then exit");
    app.set_version_flag("--version", "zarvikd " ZARVIK_VERSION, "the service's version, then exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : host::kExitUsage;
    }
    // Blocked before any thread starts, so only the main thread takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return options.checkConfig ? zarvikd::CheckConfig(options) : zarvikd::Serve(options, signals);
    } catch (const host::HostError& e) {
        std::cerr << "zarvikd: " << e.what() << std::endl;
        return e.Code() == host::kExitOk ? host::kExitConfig : e.Code();
    } catch (const std::exception& e) {
        std::cerr << "zarvikd: " << e.what() << std::endl;
        return host::kExitConfig;
    }
}
