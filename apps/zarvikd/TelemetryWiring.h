// zarvikd's telemetry (station file "service": {"telemetry": {...}}): pump
// changes from the service's state, line health and faults, totals read
// through the API, head office's prices into the service's PumpControl.
//
// Sales come from the journal: pass it to the constructor (null: no journal,
// so no sales are published and commands are refused, their ids could not be
// kept), and call SaleChanged from the journal's observer.
#pragma once

#include <memory>

#include "httpserver/HttpTypes.h"
#include "journal/Journal.h"
#include "service/Api.h"
#include "service/Service.h"
#include "telemetry/Telemetry.h"

namespace zarvik::zarvikd {

class TelemetryWiring {
public:
    // Before SERVICE starts (it adds a pump observer); SERVICE, API and
    // JOURNAL outlive this object. Destroyed, it stops the telemetry; the
    // observer keeps what it hands pumps to alive for the service's workers
    // that may still run (a start that failed).
    TelemetryWiring(telemetry::TelemetrySettings settings, service::Service& service, service::Api& api,
                    journal::Journal* journal, http::Logger log);
    ~TelemetryWiring() { telemetry_->Stop(); }
    TelemetryWiring(const TelemetryWiring&) = delete;
    TelemetryWiring& operator=(const TelemetryWiring&) = delete;
    telemetry::Telemetry& Telemetry() { return *telemetry_; }
    // For the journal's observer: an ended sale is published now.
    void SaleChanged(const journal::Sale& sale) {
        if (journal::IsEnded(sale.state)) telemetry_->SaleEnded();
    }

private:
    struct Prices final : telemetry::PriceSetter {
        explicit Prices(service::PumpControl& control) : control(control) {}
        bool SetPrice(int line, int dispenser, int nozzle, double price) override;
        service::PumpControl& control;
    };
    Prices prices_;
    std::shared_ptr<telemetry::Telemetry> telemetry_;
};

}  // namespace zarvik::zarvikd
