// bench_service's sales and event followers: SELLERS threads authorise
// sales (litres presets) on every line's nozzles in turn while FOLLOWERS
// clients hold GET /api/v1/events open. For each pump event a follower
// takes the time from the pump's poll (its polledAt) to the event's
// arrival: the poll that saw the change to the event leaving, plus the
// loopback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EventLoad {
    std::vector<double> latenciesMs;  // pump events: arrival − polledAt
    std::uint64_t pumpEvents = 0;
    std::uint64_t transactionEvents = 0;
    std::uint64_t sales = 0;    // authorisations accepted
    std::uint64_t refused = 0;  // and not (a busy dispenser, mostly)
};

// Runs both for SECONDS; TOKEN is a control token.
EventLoad RunSalesAndFollowers(int port, const std::string& token, int lines, int dispensers, int followers,
                               double seconds);
