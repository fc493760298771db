// Opens the windows' module beside the library at load (library/WindowsModule.h).
#include "library/WindowsModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "driver/VM30.h"
#include "library/Application.h"
#include "library/DriverObject.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik::windows {
namespace {

using ContextFn = void (*)(TVM30* current, std::intptr_t appHandle);

struct Module {
    ContextFn context = nullptr;
    MenuEntryHook menuEntry = nullptr;
    std::string fault;  // why a module that is there did not load
};

Module g_module;

// The module's path: the folder the library was loaded from.
std::string ModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string library = info.dli_fname;
    const auto slash = library.rfind('/');
    return (slash == std::string::npos ? std::string() : library.substr(0, slash + 1)) + kModuleFile;
}

void Load() {
    const std::string path = ModulePath();
    if (path.empty() || ::access(path.c_str(), F_OK) != 0) return;  // the windows are not installed
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* cause = ::dlerror();
        g_module.fault = cause != nullptr ? cause : path;
        return;
    }
    g_module.context = reinterpret_cast<ContextFn>(::dlsym(handle, kContextEntry));
    g_module.menuEntry = reinterpret_cast<MenuEntryHook>(::dlsym(handle, kMenuEntryEntry));
    if (g_module.context == nullptr || g_module.menuEntry == nullptr) {
        g_module = Module{nullptr, nullptr, path + ": " + kContextEntry + " or " + kMenuEntryEntry + " missing"};
    }
}

void InsertThroughModule(TVM30& driver, QAction* parent, TMenuItemFactory factory) {
    if (g_module.menuEntry == nullptr) throw Exception(protocol::ToHostText(kModuleNotLoaded + g_module.fault));
    g_module.context(DriverObject, app::Handle());
    g_module.menuEntry(driver, parent, factory);
}

[[maybe_unused]] const bool g_loaded = [] {
    Load();
    if (g_module.menuEntry != nullptr || !g_module.fault.empty()) SetMenuEntryHook(&InsertThroughModule);
    return true;
}();

}  // namespace

void DriverCreated() {
    if (g_module.context != nullptr) g_module.context(DriverObject, app::Handle());
}

}  // namespace zarvik::windows
