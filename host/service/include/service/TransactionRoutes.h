// The sales journal's routes (apps/zarvikd/openapi.json describes them):
//   GET  /api/v1/transactions                  the sales, oldest first, filtered by
//        ?state=&from=&to=&line=&dispenser=&acknowledged=true|false&limit=
//   GET  /api/v1/transactions/totals?from=&to= per nozzle: the sales that ended then
//   GET  /api/v1/transactions/{id}             one sale
//   POST /api/v1/transactions/{id}/acknowledge a point of sale took it (control role)
// Times are ISO 8601 (a zone or Z, else local time; a date alone is its
// midnight). Errors as the API's: 400 bad_request (a malformed, unknown or
// repeated parameter), 403 forbidden, 404 unknown_transaction, 405
// method_not_allowed, 409 not_ended (an open sale cannot be acknowledged),
// 503 journal_failure (the journal could not be read or written).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "httpserver/HttpTypes.h"
#include "journal/Journal.h"
#include "service/JsonText.h"

namespace zarvik::service {

// A sale's document: {"id", "line", "dispenser", "nozzle", "preset", "price",
// "authorisedHere", "totalBefore", "totalAfter", "litres", "money", "state",
// "cause", "startedAt", "updatedAt", "endedAt", "acknowledgedAt"}.
void WriteTransaction(JsonText& out, const journal::Sale& sale);
// That document as text (the telemetry publishes it as it is).
std::string TransactionText(const journal::Sale& sale);
// The event {"seq", "type": "transaction", "at", "transaction"}.
std::string TransactionEventText(std::uint64_t seq, journal::WallTime at, const journal::Sale& sale);

class TransactionRoutes {
public:
    // JOURNAL outlives the routes; CHANGED is told of each sale acknowledged.
    explicit TransactionRoutes(journal::Journal& journal, std::function<void(const journal::Sale&)> changed = {})
        : journal_(journal), changed_(std::move(changed)) {}

    // The answer for the paths above; nullopt for any other path.
    std::optional<http::Response> Handle(const http::Request& request) const;

private:
    http::Response List(const http::Request& request) const;
    http::Response Totals(const http::Request& request) const;
    http::Response One(const http::Request& request, std::string_view id, bool acknowledge) const;
    journal::Journal& journal_;
    const std::function<void(const journal::Sale&)> changed_;
};

}  // namespace zarvik::service
