#include "telemetry/Telemetry.h"

#include <syslog.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "MqttClient.h"
#include "telemetry/Messages.h"

namespace zarvik::telemetry {
namespace {

using Steady = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::seconds(1);
// A sale sent and not acknowledged this long is sent again (libmosquitto
// may have dropped it with a connection).
constexpr auto kResend = std::chrono::seconds(10);
constexpr int kBatch = 200;             // unpublished sales read at a time
constexpr std::size_t kInFlight = 100;  // sales sent and not yet acknowledged

// Refuses every command when there is no journal to keep their ids.
class NoRegister final : public CommandRegister {
public:
    bool Remember(const std::string&, WallTime, WallTime) override {
        throw std::runtime_error("the service keeps no journal");
    }
};

}  // namespace

struct Telemetry::Impl {
    Impl(TelemetrySettings s, journal::Journal* j, PriceSetter& p, TotalsSource t, LinesSource l, SaleDocument d,
         Log lg)
        : settings(std::move(s)),
          journal(j),
          prices(p),
          totals(std::move(t)),
          lines(std::move(l)),
          saleDocument(std::move(d)),
          log(std::move(lg)) {
        if (journal != nullptr)
            ids = std::make_unique<JournalCommandRegister>(*journal);
        else
            ids = std::make_unique<NoRegister>();
    }

    std::string Topic(const std::string& rest) const { return settings.prefix + "/" + rest; }
    void Run();
    void Answer(const std::string& payload);
    void Connect();
    bool Publish(const std::string& topic, const std::string& payload, bool retain, int* mid = nullptr);
    void MarkAcknowledged(const std::vector<int>& acks);
    void PublishSales();
    void PublishLines();
    void PublishTotals();

    const TelemetrySettings settings;
    journal::Journal* const journal;
    PriceSetter& prices;
    const TotalsSource totals;
    const LinesSource lines;
    const SaleDocument saleDocument;
    const Log log;
    std::unique_ptr<CommandRegister> ids;
    std::unique_ptr<MqttClient> client;
    std::thread worker;

    mutable std::mutex mutex;  // guards what the callers and the network thread hand over
    std::condition_variable wake;
    bool running = false;
    bool connected = false;
    bool reconnected = false;
    bool salesDue = false;
    std::map<std::pair<int, int>, std::string> pumps;  // every pump's latest document
    std::set<std::pair<int, int>> dirty;
    std::deque<std::string> commands;
    std::vector<int> acks;
    TelemetryCounts counts;

    // The worker's own.
    struct Sent {
        journal::SaleId sale = 0;
        Steady::time_point at;
    };
    std::map<int, Sent> inFlight;  // by message id
    std::map<journal::SaleId, int> inFlightMid;
    std::map<int, std::string> lineKeys;
    Steady::time_point nextTotals;
    Steady::time_point nextConnect;
    std::chrono::seconds connectDelay{1};
};

Telemetry::Telemetry(TelemetrySettings settings, journal::Journal* journal, PriceSetter& prices, TotalsSource totals,
                     LinesSource lines, SaleDocument saleDocument, Log log)
    : impl_(std::make_unique<Impl>(std::move(settings), journal, prices, std::move(totals), std::move(lines),
                                   std::move(saleDocument), std::move(log))) {}

Telemetry::~Telemetry() { Stop(); }

void Telemetry::Start() {
    Impl& t = *impl_;
    MqttEvents events;
    events.connection = [&t](bool up, const std::string& cause) {
        {
            std::lock_guard lock(t.mutex);
            if (up == t.connected && up) return;
            t.connected = up;
            t.reconnected = t.reconnected || up;
        }
        if (up) {
            t.client->Subscribe(t.Topic("commands"), 1);
            t.log(LOG_INFO, "telemetry: connected to " + t.settings.host + ":" + std::to_string(t.settings.port));
        } else {
            t.log(LOG_WARNING,
                  "telemetry: broker " + t.settings.host + ":" + std::to_string(t.settings.port) + ": " + cause);
        }
        t.wake.notify_one();
    };
    events.published = [&t](int mid) {
        std::lock_guard lock(t.mutex);
        t.acks.push_back(mid);
        t.wake.notify_one();
    };
    events.message = [&t](const std::string& topic, const std::string& payload) {
        if (topic != t.Topic("commands")) return;
        std::lock_guard lock(t.mutex);
        t.commands.push_back(payload);
        t.wake.notify_one();
    };
    t.client = std::make_unique<MqttClient>(t.settings, t.Topic("status"), std::move(events));
    t.running = true;
    t.nextTotals = Steady::now() + std::chrono::seconds(t.settings.totalsEverySeconds);
    t.worker = std::thread([&t] { t.Run(); });
}

void Telemetry::Stop() {
    Impl& t = *impl_;
    {
        std::lock_guard lock(t.mutex);
        if (!t.running) return;
        t.running = false;
    }
    t.wake.notify_one();
    t.worker.join();
    // Said before the disconnection, which would not set off the last will.
    t.Publish(t.Topic("status"), "offline", true);
    t.client->Stop();
}

void Telemetry::PumpChanged(int line, int dispenser, std::string document) {
    std::lock_guard lock(impl_->mutex);
    impl_->pumps[{line, dispenser}] = std::move(document);
    impl_->dirty.insert({line, dispenser});
    impl_->wake.notify_one();
}

void Telemetry::SaleEnded() {
    std::lock_guard lock(impl_->mutex);
    impl_->salesDue = true;
    impl_->wake.notify_one();
}

TelemetryCounts Telemetry::Counts() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->counts;
}

// Until the connection is under way (libmosquitto's thread keeps it from then on).
void Telemetry::Impl::Connect() {
    if (client->Started() || Steady::now() < nextConnect) return;
    std::string cause;
    if (client->Start(cause)) return;
    log(LOG_WARNING, "telemetry: broker " + settings.host + ":" + std::to_string(settings.port) + ": " + cause +
                         "; trying again in " + std::to_string(connectDelay.count()) + " s");
    nextConnect = Steady::now() + connectDelay;
    connectDelay = std::min(connectDelay * 2, std::chrono::seconds(30));
}

void Telemetry::Impl::Run() {
    auto tick = Steady::now();
    std::unique_lock lock(mutex);
    while (running) {
        lock.unlock();
        Connect();
        lock.lock();
        wake.wait_until(lock, tick + kTick, [this] {
            return !running || !acks.empty() || !commands.empty() || !dirty.empty() || reconnected || salesDue;
        });
        if (!running) break;
        const bool due = Steady::now() >= tick + kTick;
        if (due) tick = Steady::now();
        std::vector<int> taken = std::move(acks);
        acks.clear();
        std::deque<std::string> orders = std::move(commands);
        commands.clear();
        if (reconnected) dirty.clear();
        std::map<std::pair<int, int>, std::string> changed =
            reconnected ? pumps : std::map<std::pair<int, int>, std::string>{};
        for (const auto& key : dirty) changed[key] = pumps[key];
        dirty.clear();
        const bool again = reconnected;
        reconnected = false;
        const bool sales = salesDue || due;
        salesDue = false;
        const bool up = connected;
        lock.unlock();
        MarkAcknowledged(taken);
        for (const std::string& order : orders) Answer(order);
        if (up) {
            if (again) {
                Publish(Topic("status"), "online", true);
                lineKeys.clear();
            }
            for (const auto& [key, document] : changed)
                Publish(Topic("pumps/" + std::to_string(key.first) + "/" + std::to_string(key.second)), document, true);
            if (due || again) PublishLines();
            if (sales) PublishSales();
            if (settings.totalsEverySeconds > 0 && Steady::now() >= nextTotals) {
                nextTotals = Steady::now() + std::chrono::seconds(settings.totalsEverySeconds);
                try {
                    PublishTotals();
                } catch (const std::exception& e) {
                    log(LOG_WARNING, std::string("telemetry: totals: ") + e.what());
                }
            }
        }
        lock.lock();
    }
}

bool Telemetry::Impl::Publish(const std::string& topic, const std::string& payload, bool retain, int* mid) {
    const int rc = client->Publish(topic, payload, 1, retain, mid);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    std::lock_guard lock(mutex);
    ++counts.messages;
    return true;
}

void Telemetry::Impl::Answer(const std::string& payload) {
    const std::string reply =
        HandleCommand(payload, std::chrono::system_clock::now(), *ids, prices, [this] { PublishTotals(); });
    if (!Publish(Topic("replies"), reply, false)) log(LOG_WARNING, "telemetry: a reply was not sent: " + reply);
    std::lock_guard lock(mutex);
    ++counts.commands;
}

void Telemetry::Impl::MarkAcknowledged(const std::vector<int>& taken) {
    for (const int mid : taken) {
        const auto sent = inFlight.find(mid);
        if (sent == inFlight.end()) continue;  // not a sale, or one sent again since
        const journal::SaleId sale = sent->second.sale;
        inFlight.erase(sent);
        inFlightMid.erase(sale);
        if (journal == nullptr) continue;
        try {
            journal->MarkPublished(sale, std::chrono::system_clock::now());
            std::lock_guard lock(mutex);
            ++counts.salesMarked;
        } catch (const std::exception& e) {
            // Left unpublished: it is sent again, a repeat its consumers drop.
            log(LOG_WARNING, std::string("telemetry: ") + e.what());
        }
    }
}

void Telemetry::Impl::PublishSales() {
    if (journal == nullptr) return;
    std::vector<journal::Sale> sales;
    try {
        sales = journal->Unpublished(kBatch);
    } catch (const std::exception& e) {
        log(LOG_WARNING, std::string("telemetry: ") + e.what());
        return;
    }
    const auto now = Steady::now();
    for (const journal::Sale& sale : sales) {
        const auto earlier = inFlightMid.find(sale.id);
        if (earlier != inFlightMid.end()) {
            if (now - inFlight[earlier->second].at < kResend) continue;
            inFlight.erase(earlier->second);
            inFlightMid.erase(earlier);
        }
        if (inFlight.size() >= kInFlight) return;
        int mid = 0;
        if (!Publish(Topic("transactions/" + std::to_string(sale.id)), saleDocument(sale), false, &mid)) return;
        inFlight[mid] = {sale.id, now};
        inFlightMid[sale.id] = mid;
        std::lock_guard lock(mutex);
        ++counts.salesSent;
    }
}

void Telemetry::Impl::PublishLines() {
    if (!lines) return;
    for (const LineReport& report : lines()) {
        auto& key = lineKeys[report.line];
        if (key == report.key && !key.empty()) continue;
        if (Publish(Topic("lines/" + std::to_string(report.line)), report.document, true)) key = report.key;
    }
}

void Telemetry::Impl::PublishTotals() {
    if (!totals) throw std::runtime_error("the service reads no totals");
    if (!Publish(Topic("totals"), totals(), true)) throw std::runtime_error("the totals could not be sent");
}

}  // namespace zarvik::telemetry
