#include <windows.h>

#include <stdexcept>
#include <string>

#include "DriverFactory.h"

namespace zarvik::capi {

GetVM30Fn DriverFactory() {
    // Loaded once and kept: driver objects and their errors live in its code.
    static const GetVM30Fn factory = [] {
        HMODULE self = nullptr;
        wchar_t path[MAX_PATH];
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(&DriverFactory), &self) ||
            GetModuleFileNameW(self, path, MAX_PATH) == 0)
            throw std::runtime_error("cannot find zarvik.dll's folder (error " + std::to_string(GetLastError()) + ")");
        std::wstring file(path);
        file = file.substr(0, file.find_last_of(L"\\/") + 1) + L"ZarvikTrk.dll";
        HMODULE driver = LoadLibraryW(file.c_str());
        if (driver == nullptr)
            throw std::runtime_error("cannot load ZarvikTrk.dll beside zarvik.dll (error " +
                                     std::to_string(GetLastError()) + ")");
        auto symbol = GetProcAddress(driver, "GetVM30");
        if (symbol == nullptr) throw std::runtime_error("ZarvikTrk.dll does not export GetVM30");
        return reinterpret_cast<GetVM30Fn>(reinterpret_cast<void*>(symbol));
    }();
    return factory;
}

}  // namespace zarvik::capi
