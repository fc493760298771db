// The OpenAPI document of zarvikd's API (apps/zarvikd/openapi.json, embedded
// when the program is built).
#pragma once

namespace zarvik::zarvikd {

extern const char* const kOpenApi;

}  // namespace zarvik::zarvikd
