// TNumberSpinBox: the numeric edit of the windows. What the operator types is
// read by params::ParseTypedNumber: "." and "," are both the decimal
// separator, whatever the locale; grouped text, two separators or too many
// decimals stay in the edit as typed (never mended, never dropped) and
// InputProblem() names the fault, which the window shows instead of acting.
#pragma once

#include <QDoubleSpinBox>

class QPushButton;

namespace zarvik {

class TNumberSpinBox : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TNumberSpinBox(QWidget* parent = nullptr);

    // Empty when the text is a number within the range; otherwise the text
    // to show the operator.
    QString InputProblem() const;

    QValidator::State validate(QString& text, int& pos) const override;
    double valueFromText(const QString& text) const override;
    // Plain digits and the locale's decimal point, no groups.
    QString textFromValue(double value) const override;
    void fixup(QString& text) const override;

protected:
    // Enter and leaving the edit keep a refused text as typed.
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// Enter (and the keypad's Enter) on `button` while it has the focus presses
// it, whatever the dialog's default button is.
void PressOnEnter(QPushButton* button);

}  // namespace zarvik
