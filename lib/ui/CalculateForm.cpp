#include "ui/CalculateForm.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <cstdint>

#include "AppWidget.h"
#include "ErrorText.h"
#include "FormFont.h"
#include "library/DriverObject.h"
#include "params/Calibration.h"
#include "zarvik/exceptions.h"

namespace zarvik {

TCalculateFrm* CalculateFrm = nullptr;

namespace {

// Form layout: left, top, width, height of each control.
constexpr QRect kDozaRect{96, 24, 121, 27};
constexpr QRect kFactRect{96, 57, 121, 27};
constexpr QRect kLabel1Rect{8, 32, 66, 19};
constexpr QRect kLabel2Rect{8, 65, 54, 19};
constexpr QRect kBitBtn1Rect{116, 104, 102, 33};
constexpr QRect kBitBtn2Rect{8, 104, 102, 33};
constexpr QSize kClientSize{222, 155};
// At 15 pixels "Заказано" and "Налито" stay whole in their labels' widths.
constexpr int kControlFontPixels = 15;

// Litres are kept in thousandths on the wire.
constexpr int kLitreDecimals = 3;
constexpr double kLitreMaximum = 999999.999;

constexpr char kNoDriver[] = "Невозможно провести операцию чтения: драйвер не загружен.";
constexpr std::uint8_t kLineGood = 1;

CalculateErrorHook g_errorHook;

TNumberSpinBox* LitreEditor(QWidget* parent, const char* name, QRect where) {
    auto* edit = new TNumberSpinBox(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(where);
    edit->setFont(FormFont(kControlFontPixels));
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setDecimals(kLitreDecimals);
    edit->setRange(0.0, kLitreMaximum);
    edit->setSingleStep(1.0);
    return edit;
}

QLabel* FormLabel(QWidget* parent, const char* name, const char* text, QRect where) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(where);
    label->setFont(FormFont(kControlFontPixels));
    return label;
}

QPushButton* FormButton(QWidget* parent, const char* name, const char* text, QStyle::StandardPixmap glyph,
                        QRect where) {
    auto* button = new QPushButton(parent->style()->standardIcon(glyph), QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(where);
    return button;
}

void ShowCloseError(QWidget* dialog, const QString& message) {
    if (g_errorHook) {
        g_errorHook(dialog, message);
        return;
    }
    QMessageBox::critical(dialog, QApplication::applicationDisplayName(), message);
}

void DestroyCalculateFrm() { delete CalculateFrm; }

// The dialog belongs to the host's main widget when there is one, and in any
// case goes when the application object does.
void CreateCalculateFrm() {
    static const bool cleanupRegistered = [] {
        qAddPostRoutine(&DestroyCalculateFrm);
        return true;
    }();
    (void)cleanupRegistered;
    CalculateFrm = new TCalculateFrm(app::MainWidget());
    // The owner may go first (a host that rebuilds its main window): the
    // next call then builds a new dialog instead of using a dead one.
    QObject::connect(CalculateFrm, &QObject::destroyed, qApp, [] { CalculateFrm = nullptr; });
}

}  // namespace

TCalculateFrm::TCalculateFrm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CalculateFrm"));
    setWindowTitle(QStringLiteral("Настройка поправочного коэффициента"));
    setFont(FormFont(kFormFontPixels));
    resize(kClientSize);
    move(0, 0);

    // Declaration order is the tab order: Doza, Fact, BitBtn1, BitBtn2.
    Doza = LitreEditor(this, "Doza", kDozaRect);
    Fact = LitreEditor(this, "Fact", kFactRect);
    Label1 = FormLabel(this, "Label1", "Заказано", kLabel1Rect);
    Label2 = FormLabel(this, "Label2", "Налито", kLabel2Rect);
    BitBtn1 = FormButton(this, "BitBtn1", "Закрыть (Esc)", QStyle::SP_DialogCloseButton, kBitBtn1Rect);
    BitBtn2 = FormButton(this, "BitBtn2", "ЗАПИСАТЬ", QStyle::SP_DialogOkButton, kBitBtn2Rect);
    BitBtn1->setAutoDefault(false);
    BitBtn2->setDefault(true);
    // Enter in an edit is ЗАПИСАТЬ; Enter on a focused button presses that
    // button, so "Закрыть (Esc)" never writes.
    PressOnEnter(BitBtn1);
    PressOnEnter(BitBtn2);
    setTabOrder(Doza, Fact);
    setTabOrder(Fact, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    // Esc reaches reject() through QDialog itself.
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn2, &QPushButton::clicked, this, &TCalculateFrm::accept);
}

void TCalculateFrm::accept() {
    if (FormCloseQuery()) QDialog::accept();
}

bool TCalculateFrm::FormCloseQuery() {
    // A value still being typed counts as typed; a text that is no number
    // is named, never read as another number.
    for (TNumberSpinBox* edit : {Doza, Fact}) {
        const QString fault = edit->InputProblem();
        if (fault.isEmpty()) continue;
        edit->setFocus();
        ShowCloseError(this, fault);
        return false;
    }
    Doza->interpretText();
    Fact->interpretText();
    const auto problem = params::CalibrationInputProblem(Doza->value(), Fact->value());
    if (!problem) return true;
    ShowCloseError(this, QString::fromStdString(*problem));
    return false;
}

void SetCalculateErrorHook(CalculateErrorHook hook) { g_errorHook = std::move(hook); }

void RunCalibration(int line, int address, int row) {
    if (CalculateFrm == nullptr) CreateCalculateFrm();
    if (CalculateFrm->exec() != QDialog::Accepted) return;

    TVM30* driver = DriverObject;
    if (driver == nullptr) RaiseWindowError(kNoDriver);
    const std::int32_t code = params::CalibrationCode(row);
    const std::int32_t raw = driver->ReadParameter(line, address, code);
    if (driver->GetLineResult(line) != kLineGood) return;

    const std::int32_t coefficient = params::NewCoefficient(params::CoefficientFromRead(raw),
                                                            CalculateFrm->Doza->value(), CalculateFrm->Fact->value());
    driver->WriteParameter(line, address, code, coefficient);
}

}  // namespace zarvik
