#include "Service.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>

#include "Output.h"
#include "ServiceReads.h"

namespace zarvik::host {

namespace {

constexpr const char* kTokenVariable = "ZARVIK_SERVICE_TOKEN_FILE";

struct ServiceRoute {
    const char* command;
    int (*run)(const Invocation& in, const ServiceClient& service);
};

constexpr ServiceRoute kRoutes[] = {
    {"status", StatusThroughService},
    {"totals", TotalsThroughService},
    {"stats", StatsThroughService},
    {"tables", TablesThroughService},
};

// Options that concern a line this program opens itself.
constexpr const char* kLineOptions[] = {"--trace",     "--capture", "--overwrite", "--log",    "--log-size",
                                        "--log-files", "--stats",   "--library",   "--options"};

ServiceClient Connect(const Cli& cli) {
    std::string tokenFile = cli.tokenFile;
    if (tokenFile.empty())
        if (const char* fromEnvironment = std::getenv("ZARVIK_SERVICE_TOKEN_FILE")) tokenFile = fromEnvironment;
    if (tokenFile.empty())
        throw UsageError(std::string("--service: give --token-file FILE (or ") + kTokenVariable +
                         "): the file that holds the service's token");
    if (!cli.caFile.empty() && !cli.service.starts_with("https://"))
        throw UsageError("--ca-file is for an https:// service");
    serviceclient::ClientSettings settings;
    settings.url = cli.service;
    settings.token = serviceclient::TokenFromFile(tokenFile);
    settings.caFile = cli.caFile;
    return ServiceClient(std::move(settings));
}

}  // namespace

void AddServiceOptions(CLI::App& app, Cli& cli) {
    auto* service = app.add_option("--service", cli.service,
                                   "read through a running station service (zarvikd) at this URL: http://HOST:PORT, "
                                   "https://HOST:PORT or unix:PATH (status, totals, stats, tables)");
    service->excludes("--port")->excludes("--station");
    app.add_option("--token-file", cli.tokenFile,
                   std::string("the file holding the service's token (default: $") + kTokenVariable +
                       "); others must not be able to read it")
        ->needs(service);
    app.add_option("--ca-file", cli.caFile,
                   "with an https:// service: the certificate (PEM) of the authority to trust instead of the "
                   "system's, e.g. the service's own self-signed one")
        ->needs(service);
}

std::optional<int> RunThroughService(Invocation& in, const Command& command) {
    if (in.cli.service.empty()) return std::nullopt;
    const ServiceRoute* route = nullptr;
    for (const ServiceRoute& r : kRoutes)
        if (std::strcmp(r.command, command.name) == 0) route = &r;
    if (route == nullptr)
        throw UsageError(std::string("--service: ") + command.name +
                         " works on the line itself (--port or --station); through the service go status, totals, "
                         "stats and tables");
    for (const char* option : kLineOptions)
        if (in.app.count(option) > 0)
            throw UsageError(std::string("--service: ") + option +
                             " is for a line this program opens itself; the service's lines are read as they are");
    if (in.cli.args.json && !command.json) throw JsonNotTaken();
    return route->run(in, Connect(in.cli));
}

}  // namespace zarvik::host
