// The windows' fonts: a family installed with the build's fonts (Liberation
// Sans), sized in pixels, so every caption stays whole at the forms' fixed
// geometry whatever the desktop's font settings are.
#pragma once

#include <QFont>

namespace zarvik {

// The size of the forms' own font (their captions and labels).
inline constexpr int kFormFontPixels = 11;

QFont FormFont(int pixels, bool bold = false);

}  // namespace zarvik
