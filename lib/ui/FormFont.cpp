#include "FormFont.h"

#include <QString>

namespace zarvik {

QFont FormFont(int pixels, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace zarvik
