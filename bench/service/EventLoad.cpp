#include "EventLoad.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "hostkit/IsoTime.h"

namespace {

using WallClock = std::chrono::system_clock;

struct Follower {
    std::string buffer;
    EventLoad load;
};

size_t OnEvents(char* data, size_t size, size_t count, void* user) {
    auto& f = *static_cast<Follower*>(user);
    const auto arrived = WallClock::now();
    f.buffer.append(data, size * count);
    for (std::size_t end; (end = f.buffer.find("\n\n")) != std::string::npos; f.buffer.erase(0, end + 2)) {
        const std::size_t at = f.buffer.find("data: ");
        if (at == std::string::npos || at > end) continue;
        const auto event = nlohmann::json::parse(f.buffer.substr(at + 6, end - at - 6), nullptr, false);
        if (!event.is_object()) continue;
        if (event.value("type", "") == "transaction") ++f.load.transactionEvents;
        if (event.value("type", "") != "pump" || !event["pump"]["polledAt"].is_string()) continue;
        ++f.load.pumpEvents;
        const auto polled = zarvik::host::ParseIsoTime(event["pump"]["polledAt"].get<std::string>());
        if (!polled) continue;
        f.load.latenciesMs.push_back(std::chrono::duration<double, std::milli>(arrived - *polled).count());
    }
    return size * count;
}

void Follow(int port, const std::string& token, double seconds, Follower& f) {
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api/v1/events";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnEvents);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(seconds * 1000));
    curl_easy_perform(curl);  // ends with the timeout
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// Sales on the line's dispensers in turn (nozzle 1, 2 litres), until STOP.
void Sell(int port, const std::string& token, int line, int dispensers, const std::atomic<bool>& stop, EventLoad& load,
          std::mutex& mutex) {
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    const std::string body = R"({"nozzle": 1, "litres": 2, "price": 50})";
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    for (int d = 1; !stop.load(); d = d % dispensers + 1) {
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api/v1/pumps/" + std::to_string(line) +
                                "/" + std::to_string(d) + "/authorise";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        long status = 0;
        if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        {
            const std::lock_guard lock(mutex);
            ++(status == 200 ? load.sales : load.refused);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

}  // namespace

EventLoad RunSalesAndFollowers(int port, const std::string& token, int lines, int dispensers, int followers,
                               double seconds) {
    std::vector<Follower> follow(static_cast<std::size_t>(followers));
    std::vector<std::thread> threads;
    for (Follower& f : follow) threads.emplace_back([&, seconds] { Follow(port, token, seconds, f); });
    std::atomic<bool> stop{false};
    std::mutex mutex;
    EventLoad total;
    std::vector<std::thread> sellers;
    for (int line = 1; line <= lines; ++line)
        sellers.emplace_back([&, line] { Sell(port, token, line, dispensers, stop, total, mutex); });
    for (auto& t : threads) t.join();
    stop = true;
    for (auto& t : sellers) t.join();
    for (const Follower& f : follow) {
        total.latenciesMs.insert(total.latenciesMs.end(), f.load.latenciesMs.begin(), f.load.latenciesMs.end());
        total.pumpEvents += f.load.pumpEvents;
        total.transactionEvents += f.load.transactionEvents;
    }
    return total;
}
