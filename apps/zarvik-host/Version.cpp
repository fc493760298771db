#include "Version.h"

#include <filesystem>
#include <ostream>

#include "loader/DriverSlots.h"
#include "protocol/Cp1251.h"

#ifndef ZARVIK_VERSION
#error "ZARVIK_VERSION must be defined by the build (the project version)"
#endif

namespace zarvik::host {

std::string LibraryVersionOf(const std::string& file) {
    const std::string name = std::filesystem::path(file).filename().string();
    const auto at = name.rfind(".so.");
    return at == std::string::npos ? std::string() : name.substr(at + 4);
}

int RunVersion(const SessionOptions& options, std::ostream& out) {
    out << "zarvik-host " << ZARVIK_VERSION << '\n';
    Session s(options);  // a library that does not load throws (configuration error)
    // The file the loader took (an installed host names the library by its
    // SONAME), its links followed to the versioned name.
    std::string path = s.Library().File();
    if (path.empty()) path = options.library.empty() ? DefaultLibraryPath() : options.library;
    std::error_code error;
    const auto loaded = std::filesystem::canonical(path, error);
    const std::string file = error ? path : loaded.string();
    const std::string version = LibraryVersionOf(file);
    out << "library: ZarvikTrk " << (version.empty() ? "version unknown" : version) << ", " << file << '\n';
    TShortString info;
    slots::DriverInfo(s.Driver(), info);
    out << "driver: " << cp1251::ToUtf8(info.view()) << '\n';
    return 0;
}

}  // namespace zarvik::host
