// The files of one folder served as they are, to anyone (the page that talks
// to the API; every /api call still needs its token): "/" is the folder's
// index.html, "/ui/NAME" the folder's NAME (subfolders too). A name is made
// of segments of letters, digits, '-', '_' and '.', none empty or starting
// with '.' (so no "..", however it was encoded: the server decodes the path
// first); anything else, an unknown extension or a file that is not there is
// 404. Only GET and HEAD (405 otherwise). Each answer says no-cache, nosniff
// and a Content-Security-Policy that allows only the service's own scripts,
// styles and connections (no inline script or style). The file is read at
// each request, so a page updated on disk is served at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "httpserver/HttpTypes.h"

namespace zarvik::http {

inline constexpr std::string_view kStaticPrefix = "/ui/";
inline constexpr std::string_view kContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The file under the folder that PATH names ("index.html" for "/"), or ""
// when PATH is not "/" nor under kStaticPrefix, or its name is refused.
std::string StaticFileName(std::string_view path);
// The Content-Type for NAME's extension, "" for one not served.
std::string_view StaticContentType(std::string_view name);

class StaticFiles {
public:
    explicit StaticFiles(std::string folder) : folder_(std::move(folder)) {}
    // True for the paths this serves ("/" and under kStaticPrefix), for the
    // server's list of paths that need no token.
    static bool Serves(std::string_view path);
    // The answer for a request to a path it Serves; nullopt for any other.
    std::optional<Response> Handle(const Request& request) const;

private:
    std::string folder_;
};

}  // namespace zarvik::http
