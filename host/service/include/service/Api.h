// The station service's JSON API under /api/v1 (apps/zarvikd/openapi.json
// describes every route): maps a request the HTTP server let through to its
// response. Called concurrently from the server's threads; reads the shared
// StationState and asks the lines' workers for fresh reads (LineReads).
//
// Errors, each a JSON body {"code", "message"}: 404 not_found (no such
// route), 405 method_not_allowed (with Allow), 400 bad_request (a malformed
// number in the path, a query where none is taken), 404 unknown_pump /
// unknown_line, 502 line_failure and 504 line_timeout (a read through a
// line's worker), 401 unauthorized (no role). The control routes (a
// control token; 403 forbidden for a read token) authorise, stop and set
// prices through PumpControl; every other route changes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/HttpTypes.h"
#include "service/Control.h"
#include "service/LineWorker.h"
#include "service/StationState.h"
#include "station/StationFile.h"

namespace zarvik::service {

// What the API asks of the lines: the service's workers, a fake in tests.
// Each throws LineFailure (the line did not answer) or JobTimeout.
class LineReads {
public:
    virtual ~LineReads() = default;
    virtual json Totals(const host::StationLine& line, std::optional<int> dispenser) = 0;
    virtual json Tables(int line, int address) = 0;
    virtual std::int32_t Parameter(int line, int address, std::int32_t code) = 0;
};

struct ServiceInfo {
    std::string version;
    WallTime startedAt;
    std::string driver;   // the driver's information text, UTF-8
    std::string openapi;  // the OpenAPI document served as is
};

class Api {
public:
    using Clock = std::function<WallTime()>;

    // station, state and reads outlive the API.
    Api(
        const host::StationFile& station, const StationState& state, LineReads& reads, ServiceInfo info,
        Clock now = [] { return std::chrono::system_clock::now(); });

    http::Response Handle(const http::Request& request) const;
    // The control routes (ControlRoutes.cpp) go to `control`; without one
    // they answer 503. control outlives the API.
    void SetControl(PumpControl& control) { control_ = &control; }

    enum class RouteKind { Service, Station, Pumps, Pump, PumpTotals, Totals, Lines, Line, Tables, Parameter, OpenApi };

private:
    struct Route;
    http::Response Dispatch(const Route& route) const;
    http::Response Pumps() const;
    http::Response OnePump(const Route& route) const;
    http::Response Totals(const Route& route) const;
    http::Response Lines(const Route& route) const;
    http::Response Tables(const Route& route) const;
    http::Response Parameter(const Route& route) const;
    std::optional<http::Response> Control(const http::Request& request,
                                          const std::vector<std::string_view>& parts) const;
    http::Response Authorise(const host::StationLine& line, const host::StationDispenser& d,
                             const std::string& body) const;
    http::Response StopPump(const host::StationLine& line, const host::StationDispenser& d,
                            const std::string& body) const;
    http::Response EmergencyStop(const std::string& body) const;
    http::Response Price(const host::StationLine& line, const host::StationDispenser& d, std::string_view nozzle,
                         const std::string& body) const;

    const host::StationFile& station_;
    const StationState& state_;
    LineReads& reads_;
    const ServiceInfo info_;
    const Clock now_;
    PumpControl* control_ = nullptr;
};

}  // namespace zarvik::service
