#include "UiDir.h"

#include <filesystem>

namespace zarvik::zarvikd {

std::string DefaultUiDir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return ZARVIKD_INSTALLED_UI;
    if (std::filesystem::equivalent(self.parent_path(), ZARVIKD_BUILD_DIR, error)) return ZARVIKD_SOURCE_UI;
    return (self.parent_path() / ZARVIKD_UI_FROM_PROGRAM).lexically_normal().string();
}

}  // namespace zarvik::zarvikd
