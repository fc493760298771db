#include "StationScreenshot.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QTabBar>
#include <QTimer>
#include <functional>
#include <iostream>

#include "stationwindow/StationWindow.h"

namespace zarvik::host {

namespace {

constexpr int kWaitStepMs = 50;
constexpr int kWindowWaitMs = 60000;
constexpr int kFailed = 1;

bool SavePicture(QWidget* widget, const QString& file) {
    if (widget->grab().save(file, "PNG")) return true;
    std::cerr << "zarvik-host gui: cannot write " << file.toStdString() << "\n";
    return false;
}

// Calls `step` every kWaitStepMs until it returns true or the time is up.
void Repeat(QObject* context, int leftMs, std::function<bool()> step, std::function<void()> timeout) {
    if (step()) return;
    if (leftMs <= 0) {
        timeout();
        return;
    }
    QTimer::singleShot(kWaitStepMs, context, [=] { Repeat(context, leftMs - kWaitStepMs, step, timeout); });
}

// The dialog named `name` when it is the one running modally.
QDialog* ModalDialog(const QString& name) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    return dialog != nullptr && dialog->objectName() == name ? dialog : nullptr;
}

// The page tabs of the parameter window.
QTabBar* PageTabs(QDialog* window) {
    auto* control = window->findChild<QWidget*>(QStringLiteral("TabControl1"));
    return control != nullptr ? control->findChild<QTabBar*>() : nullptr;
}

// The parameter window once it runs modally and the read-all pass over its
// page `tab` is over.
QDialog* LoadedParamWindow(int tab) {
    QDialog* window = ModalDialog(QStringLiteral("ParamFrm"));
    if (window == nullptr) return nullptr;
    QTabBar* tabs = PageTabs(window);
    if (tabs == nullptr || tabs->currentIndex() != tab) return nullptr;
    // A page keeps its number for a caption until its table is loaded.
    if (tabs->tabText(tab) == QStringLiteral("Таблица %1").arg(tab + 1)) return nullptr;
    auto* readAll = window->findChild<QAbstractButton*>(QStringLiteral("Button1"));
    return readAll != nullptr && readAll->isEnabled() ? window : nullptr;
}

// Opens the calibration dialog from the parameter window, types an ordered
// dose and the volume poured, takes its picture and cancels it.
void PictureCalibration(QDialog* params, const QString& file, int& exitCode) {
    auto* calcKoef = params->findChild<QAbstractButton*>(QStringLiteral("CalcKoef"));
    exitCode = kFailed;
    if (calcKoef == nullptr) {
        std::cerr << "zarvik-host gui: no calibration button\n";
        return;
    }
    Repeat(
        params, kWindowWaitMs,
        [&] {
            QDialog* dialog = ModalDialog(QStringLiteral("CalculateFrm"));
            if (dialog == nullptr) return false;
            if (auto* dose = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Doza")))
                dose->setValue(StationWindow::kDemoDose);
            if (auto* poured = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Fact")))
                poured->setValue(StationWindow::kDemoDose * 1.01);  // poured 1 % over the order
            exitCode = SavePicture(dialog, file) ? 0 : kFailed;
            dialog->reject();
            return true;
        },
        [] {
            std::cerr << "zarvik-host gui: the calibration dialog did not open\n";
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
        });
    calcKoef->click();  // modal: returns once the dialog was cancelled
}

}  // namespace

void TakeScreenshot(StationWindow* window, const GuiOptions& options, int& exitCode) {
    const QString file = QString::fromStdString(options.screenshot);
    const auto fail = [&exitCode](const char* what) {
        std::cerr << "zarvik-host gui: " << what << "\n";
        exitCode = kFailed;
        while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
    };
    if (!options.openParams && !options.openCalibration) {
        exitCode = SavePicture(window, file) ? 0 : kFailed;
        QApplication::quit();
        return;
    }
    QAction* entry = window->ServiceEntry();
    if (entry == nullptr) {
        fail("the driver inserted no menu entry");
        QApplication::quit();
        return;
    }
    const int tab = options.openCalibration ? 1 : 0;
    Repeat(
        window, kWindowWaitMs,
        [&, tab] {
            if (tab == 1) {
                // Table 2 carries the coefficient: its page first.
                QDialog* first = LoadedParamWindow(0);
                if (QTabBar* tabs = first != nullptr ? PageTabs(first) : nullptr) tabs->setCurrentIndex(1);
            }
            QDialog* params = LoadedParamWindow(tab);
            if (params == nullptr) return false;
            if (tab == 0) {
                exitCode = SavePicture(params, file) ? 0 : kFailed;
            } else {
                PictureCalibration(params, file, exitCode);
            }
            params->reject();
            return true;
        },
        [&] { fail("the parameter window did not load"); });
    entry->trigger();  // modal: returns once the picture is taken
    QApplication::quit();
}

}  // namespace zarvik::host
