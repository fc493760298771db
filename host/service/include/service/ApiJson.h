// The documents of the station service's API, built from the station file
// and the shared state (Api.h serves them; apps/zarvikd/openapi.json
// describes them). Times are ISO 8601 local time with microseconds.
//
// A pump is live only when its latest poll was good. When it failed the pump
// says why (fault) and keeps the values of its last good poll with that
// poll's time and age; never a failed poll's values, never stale ones shown
// as live. Per-nozzle values come from each nozzle's own status reply.
#pragma once

#include <array>
#include <string_view>

#include "httpserver/HttpTypes.h"
#include "service/JsonText.h"
#include "service/LineWorker.h"
#include "service/StationState.h"
#include "station/StationFile.h"

namespace zarvik::service {

// 200 with the document as its body.
http::Response JsonResponse(const json& document);
http::Response TextResponse(std::string document);  // a document already JSON text
std::string TimeText(WallTime time);

// TimeText's texts for the many times of one document: those of a few recent
// seconds are kept, and a time in one of them only gets its microseconds
// written again. The text lasts until the next call.
class TimeTexts {
public:
    std::string_view operator()(WallTime time);

private:
    struct Second {
        std::chrono::sys_seconds second = std::chrono::sys_seconds::min();
        std::string text;
        std::size_t fraction = 0;  // where the microseconds are
    };
    std::array<Second, 4> seconds_;
    std::size_t next_ = 0;  // the one replaced next
};

// The pump's document (the pumps document holds one for each), appended to OUT.
void WritePump(JsonText& out, TimeTexts& times, const host::StationLine& line, const host::StationDispenser& dispenser,
               const PumpRecord& record, WallTime now);
json LineJson(const host::StationLine& line, const LineRecord& record);
json StationJson(const host::StationFile& station);
json StateJson(
    std::uint8_t code);  // {"code", "kind", "text", "russian"}  // the configuration, without the service section

}  // namespace zarvik::service
