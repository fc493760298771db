// PROVISIONAL (see include/httpserver/HttpTypes.h).
#include "httpserver/HttpTypes.h"

#include <nlohmann/json.hpp>

namespace zarvik::http {

Response ErrorResponse(int status, std::string_view code, std::string_view message) {
    Response r;
    r.status = status;
    r.body = nlohmann::json{{"code", code}, {"message", message}}.dump(-1, ' ', false,
                                                                       nlohmann::json::error_handler_t::replace);
    return r;
}

}  // namespace zarvik::http
