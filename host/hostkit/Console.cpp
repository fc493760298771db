#include "hostkit/Console.h"

#include "hostkit/VisibleText.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>
#endif

namespace zarvik::host {

#if defined(_WIN32)
namespace {
UINT g_outputCodePage = 0;
extern "C" void RestoreConsole() { SetConsoleOutputCP(g_outputCodePage); }
}  // namespace

void PrepareConsole() {
    g_outputCodePage = GetConsoleOutputCP();
    // 0: no console (output to a file or a pipe): the bytes go as they are.
    if (g_outputCodePage != 0 && g_outputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreConsole);
}
#else
void PrepareConsole() {}
#endif

std::string ErrorText(const std::exception& error) {
    if (dynamic_cast<const Exception*>(&error) != nullptr) return VisibleText(protocol::HostTextToUtf8(error.what()));
    return VisibleText(error.what());
}

}  // namespace zarvik::host
