// zarvik-fleet: head office's view of its stations from their telemetry.
// Connects to the broker with head office's credentials, subscribes to every
// station under ROOT (<root>/<station>/status, pumps, transactions) and prints
// each station's pumps and the day's sales per grade; --once SECONDS prints
// once after that long and exits, else it prints every --every seconds until
// SIGINT or SIGTERM. Exit codes: 0 printed, 1 no connection to the broker,
// 2 usage, 3 the broker refused the connection (the cause on stderr), 4 a
// configuration that cannot be used (a password file others may read).
#include <mosquitto.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "FleetView.h"
#include "hostkit/ExitCodes.h"
#include "telemetry/Settings.h"

namespace {

using namespace zarvik;

volatile std::sig_atomic_t stopped = 0;

struct Options {
    std::string broker = "127.0.0.1:1883";
    std::string user, passwordFile, ca, certificate, key;
    std::string clientId = "zarvik-fleet";
    std::string root = "zarvik";
    std::string day;
    double once = 0;
    int every = 5;
};

struct Shared {
    std::mutex mutex;
    fleet::FleetView view;
    int connack = -1;  // -1: no answer yet
    explicit Shared(const std::string& root) : view(root) {}
};

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

void Check(int rc, const std::string& doing) {
    if (rc != MOSQ_ERR_SUCCESS)
        throw host::HostError(rc == MOSQ_ERR_ERRNO ? host::kExitExchangeFailed : host::kExitConfig,
                              doing + ": " + (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)));
}

void Subscribe(mosquitto* mosq, const std::string& root) {
    for (const char* topic : {"/+/status", "/+/pumps/+/+", "/+/transactions/+"})
        mosquitto_subscribe(mosq, nullptr, (root + topic).c_str(), 1);
}

mosquitto* Connect(const Options& o, Shared& shared) {
    mosquitto_lib_init();
    // A session the broker keeps: sales published while this view was away arrive when it is back.
    mosquitto* mosq = mosquitto_new(o.clientId.c_str(), false, &shared);
    if (mosq == nullptr) throw host::ConfigError("cannot create the MQTT client");
    if (!o.user.empty()) {
        const std::string password = o.passwordFile.empty() ? "" : telemetry::ReadPasswordFile(o.passwordFile);
        Check(mosquitto_username_pw_set(mosq, o.user.c_str(), password.empty() ? nullptr : password.c_str()),
              "credentials");
    }
    if (!o.ca.empty())
        Check(mosquitto_tls_set(mosq, o.ca.c_str(), nullptr, o.certificate.empty() ? nullptr : o.certificate.c_str(),
                                o.key.empty() ? nullptr : o.key.c_str(), nullptr),
              "TLS files");
    mosquitto_connect_callback_set(mosq, [](mosquitto* m, void* data, int rc) {
        auto& s = *static_cast<Shared*>(data);
        {
            std::lock_guard lock(s.mutex);
            s.connack = rc;
        }
        if (rc == 0) Subscribe(m, s.view.Root());
    });
    mosquitto_message_callback_set(mosq, [](mosquitto*, void* data, const mosquitto_message* m) {
        auto& s = *static_cast<Shared*>(data);
        std::lock_guard lock(s.mutex);
        s.view.Take(m->topic, std::string_view(static_cast<const char*>(m->payload),
                                               static_cast<std::size_t>(m->payloadlen > 0 ? m->payloadlen : 0)));
    });
    const auto colon = o.broker.rfind(':');
    const std::string host = colon == std::string::npos ? o.broker : o.broker.substr(0, colon);
    const int port = colon == std::string::npos ? (o.ca.empty() ? 1883 : 8883) : std::stoi(o.broker.substr(colon + 1));
    Check(mosquitto_connect(mosq, host.c_str(), port, 30), "broker " + o.broker);
    Check(mosquitto_loop_start(mosq), "network thread");
    return mosq;
}

int Run(const Options& o) {
    Shared shared(o.root);
    mosquitto* mosq = Connect(o, shared);
    const std::string day = o.day.empty() ? Today() : o.day;
    const auto wait = std::chrono::milliseconds(static_cast<long>((o.once > 0 ? o.once : o.every) * 1000));
    int code = 0;
    for (auto next = std::chrono::steady_clock::now() + wait; !stopped; next += wait) {
        while (!stopped && std::chrono::steady_clock::now() < next)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard lock(shared.mutex);
        if (shared.connack != 0) {
            std::cerr << "zarvik-fleet: broker " << o.broker << ": "
                      << (shared.connack < 0 ? "no answer" : mosquitto_connack_string(shared.connack)) << std::endl;
            code = shared.connack < 0 ? host::kExitExchangeFailed : host::kExitNotGood;
            break;
        }
        std::cout << shared.view.Render(day) << std::flush;
        if (o.once > 0) break;
        std::cout << std::endl;
    }
    mosquitto_disconnect(mosq);
    mosquitto_loop_stop(mosq, false);
    mosquitto_destroy(mosq);
    mosquitto_lib_cleanup();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarvik-fleet: every station's pumps and the day's sales, from their telemetry"};
    Options o;
    app.add_option("--broker", o.broker, "HOST:PORT of the broker")->capture_default_str();
    app.add_option("--user", o.user, "head office's user name at the broker");
    app.add_option("--password-file", o.passwordFile,
                   "a file whose first line is the password (others may not read it)");
    app.add_option("--ca", o.ca, "the broker's CA (PEM): connect over TLS");
    app.add_option("--certificate", o.certificate, "head office's client certificate (PEM)");
    app.add_option("--key", o.key, "its key (PEM)");
    app.add_option("--client-id", o.clientId, "the session the broker keeps for this view")->capture_default_str();
    app.add_option("--root", o.root, "the stations' topics are ROOT/<station>/...")->capture_default_str();
    app.add_option("--day", o.day, "the day of the sales shown (YYYY-MM-DD; default today)");
    app.add_option("--once", o.once, "print once after SECONDS, then exit")->check(CLI::PositiveNumber);
    app.add_option("--every", o.every, "print every SECONDS")->check(CLI::Range(1, 3600))->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : host::kExitUsage;
    }
    std::signal(SIGINT, [](int) { stopped = 1; });
    std::signal(SIGTERM, [](int) { stopped = 1; });
    try {
        return Run(o);
    } catch (const host::HostError& e) {
        std::cerr << "zarvik-fleet: " << e.what() << std::endl;
        return e.Code();
    } catch (const std::exception& e) {
        std::cerr << "zarvik-fleet: " << e.what() << std::endl;
        return host::kExitConfig;
    }
}
