#include "ui/GridSpinEdit.h"

#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <limits>

namespace zarvik {

TRxSpinEdit::TRxSpinEdit(QWidget* parent) : TNumberSpinBox(parent) {
    // The editors take any range the descriptors give.
    QDoubleSpinBox::setRange(-std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
    QDoubleSpinBox::setDecimals(0);
    QDoubleSpinBox::setValue(0.0);
    setKeyboardTracking(true);
    setAccelerated(true);
    // What the user types or steps to becomes the value asked for.
    connect(this, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        if (!applying_) requested_ = v;
    });
}

void TRxSpinEdit::SetValue(double value) {
    requested_ = value;
    Apply();
}

void TRxSpinEdit::SetMinValue(double value) {
    // Qt clamps the shown value to each new range; the asked value stays
    // and is shown again once the range admits it.
    applying_ = true;
    setMinimum(value);
    Apply();
}

void TRxSpinEdit::SetMaxValue(double value) {
    applying_ = true;
    setMaximum(value);
    Apply();
}

void TRxSpinEdit::SetDecimals(int decimals) {
    applying_ = true;
    setDecimals(integer_ ? 0 : std::max(0, decimals));
    Apply();
}

void TRxSpinEdit::SetIntegerInput(bool integer) {
    integer_ = integer;
    applying_ = true;
    if (integer) setDecimals(0);
    Apply();
}

double TRxSpinEdit::Value() {
    interpretText();
    requested_ = value();
    return value();
}

void TRxSpinEdit::Apply() {
    double v = requested_;
    if (integer_) v = std::nearbyint(v);
    v = std::clamp(v, minimum(), maximum());
    applying_ = true;
    setValue(v);
    applying_ = false;
}

}  // namespace zarvik
