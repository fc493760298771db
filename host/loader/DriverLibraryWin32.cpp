// The Windows back end of DriverLibrary: LoadLibrary and GetProcAddress.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "loader/DriverLibrary.h"

namespace zarvik::host {
namespace {

std::string SystemText(DWORD error) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                             MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (n == 0)
        n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return "Windows error " + std::to_string(error) + (s.empty() ? "" : ": " + s);
}

}  // namespace

// ZarvikTrk.dll beside this executable, where the build and the installed
// tree put it; ZARVIK_LIBRARY in the environment overrides it.
std::string DefaultLibraryPath() {
    if (const char* env = std::getenv("ZARVIK_LIBRARY"); env != nullptr && *env != '\0') return env;
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n > 0 && n < MAX_PATH ? n : 0);
    const std::size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "ZarvikTrk.dll";
}

DriverLibrary::~DriverLibrary() = default;

void DriverLibrary::Load(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) throw std::runtime_error("cannot load " + path + ": " + SystemText(GetLastError()));
    FARPROC symbol = GetProcAddress(module, "GetVM30");
    if (symbol == nullptr) {
        FreeLibrary(module);
        throw std::runtime_error(path + " does not export GetVM30");
    }
    // The library stays loaded for the life of the process: an exception it
    // raised may still be in flight (its type and message live in its code).
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(symbol), &pinned);
    handle_ = module;
    getVM30_ = reinterpret_cast<GetVM30Fn>(reinterpret_cast<void*>(symbol));
}

std::string DriverLibrary::File() const {
    HMODULE module = nullptr;
    if (getVM30_ == nullptr ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(getVM30_)), &module))
        return {};
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

TDriver25* DriverLibrary::Create(std::int32_t options, TPortManager* port, std::intptr_t appHandle) const {
    if (getVM30_ == nullptr) throw std::logic_error("driver library not loaded");
    return getVM30_(options, appHandle, port);
}

}  // namespace zarvik::host
