// The volume correction dialog: the operator types the ordered dose and the
// volume actually poured; the new coefficient is computed from the one the
// dispenser holds and written back. One dialog serves the whole library: it
// is created on first use, hidden (never destroyed) when it closes and keeps
// the typed values between uses.
#pragma once

#include <QDialog>
#include <functional>

#include "ui/NumberSpinBox.h"

class QLabel;
class QPushButton;

namespace zarvik {

class TCalculateFrm : public QDialog {
    Q_OBJECT

public:
    explicit TCalculateFrm(QWidget* parent = nullptr);

    // "ЗАПИСАТЬ" (and Enter) closes with OK only when FormCloseQuery lets it.
    void accept() override;

    // The check before closing with OK: true lets the dialog close. A failed
    // check shows its message through the error box and keeps it open.
    bool FormCloseQuery();

    TNumberSpinBox* Doza;  // the ordered dose, litres
    TNumberSpinBox* Fact;  // the volume actually poured, litres
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* BitBtn1;  // "Закрыть (Esc)": cancel
    QPushButton* BitBtn2;  // "ЗАПИСАТЬ": default, OK
};

// The single dialog instance; empty until the first RunCalibration and again
// after its owner (the application's main widget) destroyed it.
extern TCalculateFrm* CalculateFrm;

// Shows the dialog for table 2 row `row` of the dispenser at `address` on
// `line`. On "ЗАПИСАТЬ" it reads the current coefficient through
// DriverObject; with a good line result it computes the new one and writes
// it. Cancel reads and writes nothing; a bad line result after the read
// writes nothing. A failed exchange raises ESerialIO, an impossible
// computation or a missing driver raises zarvik::Exception.
void RunCalibration(int line, int address, int row);

// How a failed close check is shown. The default is a modal error box;
// tests replace it to see the text without a box. An empty hook restores
// the default.
using CalculateErrorHook = std::function<void(QWidget* dialog, const QString& message)>;
void SetCalculateErrorHook(CalculateErrorHook hook);

}  // namespace zarvik
