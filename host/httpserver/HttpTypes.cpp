#include "httpserver/HttpTypes.h"

#include <nlohmann/json.hpp>

namespace zarvik::http {

Response ErrorResponse(int status, std::string_view code, std::string_view message) {
    const nlohmann::json body = {{"code", std::string(code)}, {"message", std::string(message)}};
    Response response;
    response.status = status;
    // Invalid UTF-8 (a request's bytes quoted in a message) becomes U+FFFD instead of throwing.
    response.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

}  // namespace zarvik::http
