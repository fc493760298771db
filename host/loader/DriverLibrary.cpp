#include "loader/DriverLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace zarvik::host {

std::string DefaultLibraryPath() {
    if (const char* env = std::getenv("ZARVIK_LIBRARY"); env != nullptr && *env != '\0') return env;
    // Only the executable in its build folder takes the build tree's library:
    // an installed copy never picks up a build left on the machine.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && std::filesystem::equivalent(self.parent_path(), ZARVIK_HOST_BUILD_DIR, error))
        return ZARVIK_DEFAULT_LIBRARY;
    return ZARVIK_INSTALLED_LIBRARY;
}

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

void DriverLibrary::Load(const std::string& path) {
    // The library stays mapped after dlclose: an exception it raised may
    // still be in flight (its type and message live in the library's code).
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (why != nullptr ? why : "unknown error"));
    }
    void* symbol = ::dlsym(handle, "GetVM30");
    if (symbol == nullptr) {
        ::dlclose(handle);
        throw std::runtime_error(path + " does not export GetVM30");
    }
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = handle;
    getVM30_ = reinterpret_cast<GetVM30Fn>(symbol);
}

std::string DriverLibrary::File() const {
    Dl_info info{};
    if (getVM30_ == nullptr || ::dladdr(reinterpret_cast<void*>(getVM30_), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

TDriver25* DriverLibrary::Create(std::int32_t options, TPortManager* port, std::intptr_t appHandle) const {
    if (getVM30_ == nullptr) throw std::logic_error("driver library not loaded");
    return getVM30_(options, appHandle, port);
}

}  // namespace zarvik::host
