// TRxSpinEdit: the numeric spin edit of the in-place editors. Value, range,
// step, decimals and integer or fractional input may be set in any order:
// the edit remembers the value last asked for and shows it clamped to the
// range in force, so a value set before its range still lands inside it (and
// at the asked value once the range admits it).
#pragma once

#include "ui/NumberSpinBox.h"

namespace zarvik {

class TRxSpinEdit : public TNumberSpinBox {
    Q_OBJECT
public:
    explicit TRxSpinEdit(QWidget* parent = nullptr);

    void SetValue(double value);
    void SetMinValue(double value);
    void SetMaxValue(double value);
    void SetIncrement(double step) { setSingleStep(step); }
    void SetDecimals(int decimals);
    // Integer input: 0 decimals and whole values only.
    void SetIntegerInput(bool integer);
    bool IntegerInput() const { return integer_; }
    // The shown value after the typed text was taken.
    double Value();

private:
    void Apply();
    double requested_ = 0.0;
    bool integer_ = true;
    bool applying_ = false;
};

}  // namespace zarvik
