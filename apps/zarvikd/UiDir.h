// Where zarvikd finds the forecourt page's files when --ui-dir is not given:
// run from its build folder, the source tree's apps/zarvikd/ui; installed,
// the data folder beside its program folder (/usr/sbin/zarvikd ->
// /usr/share/zarvikd/ui), so a package installed under any prefix finds its own.
#pragma once

#include <string>

namespace zarvik::zarvikd {

std::string DefaultUiDir();

}  // namespace zarvik::zarvikd
