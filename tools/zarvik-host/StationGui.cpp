// zarvik-host gui [--port DEVICE | --simulate] [--line N] [--dispensers N]
//                 [--nozzles N] [--library PATH] [--screenshot FILE]
//                 [--open-params | --open-calibration] [--capture FILE]
//
// The station window: a main menu whose "&ТРК" menu receives the driver's
// service entry (operation 24), and a panel that polls every dispenser of the
// line (operation 21) and shows its state, nozzle, litres and money. All
// driver calls go by slot through the dlopen'ed library, on the GUI thread
// only, and none while a library window runs modally (the library's window
// then owns the line). Without --port an embedded simulated station is
// served on a pseudo-terminal.
#include "StationGui.h"

#include <dlfcn.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "Capture.h"
#include "DriverLibrary.h"
#include "EmbeddedSimulator.h"
#include "port/SerialPortManager.h"

namespace {

using zarvik::TDispenserStatus;
using zarvik::TDriver25;
using zarvik::host::CallSlot;

constexpr int kPollMs = 500;
constexpr int kScreenshotSettleMs = 1500;  // a few polls before the picture
constexpr int kWaitStepMs = 50;
constexpr int kWindowWaitMs = 60000;
constexpr double kDemoDose = 10.0;

struct GuiOptions {
    std::string port;  // empty: embedded simulator
    int line = 1;
    int dispensers = 2;
    int nozzles = 3;
    std::string library;
    QString screenshot;
    bool openParams = false;
    bool openCalibration = false;  // the calibration dialog over table 2
    std::string capture;           // empty: none
};

// Picks the window's options out of the whole command line; what belongs to
// the other commands is left alone. Returns nothing after a usage error.
std::optional<GuiOptions> ParseOptions(int argc, char** argv) {
    GuiOptions o;
    auto number = [](const char* text, int low, int high, int& out) {
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        if (end == text || *end != '\0' || v < low || v > high) return false;
        out = static_cast<int>(v);
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--simulate") {
            o.port.clear();
        } else if (arg == "--open-params") {
            o.openParams = true;
        } else if (arg == "--open-calibration") {
            o.openCalibration = true;
        } else if (arg == "--port" || arg == "--library" || arg == "--screenshot" || arg == "--line" ||
                   arg == "--dispensers" || arg == "--nozzles" || arg == "--capture") {
            if (!hasValue) {
                std::cerr << "zarvik-host gui: " << arg << " needs a value\n";
                return std::nullopt;
            }
            const char* value = argv[++i];
            bool ok = true;
            if (arg == "--port") o.port = value;
            if (arg == "--library") o.library = value;
            if (arg == "--capture") o.capture = value;
            if (arg == "--screenshot") o.screenshot = QString::fromLocal8Bit(value);
            if (arg == "--line") ok = number(value, 1, 32, o.line);
            if (arg == "--dispensers") ok = number(value, 1, 32, o.dispensers);
            if (arg == "--nozzles") ok = number(value, 1, 6, o.nozzles);
            if (!ok) {
                std::cerr << "zarvik-host gui: bad value for " << arg << ": " << value << "\n";
                return std::nullopt;
            }
        }
    }
    return o;
}

// The host's menu-item factory: a new item appended (index -1) or inserted
// at index in the parent's sub-menu, which is created when missing.
QAction* HostMenuItemFactory(QAction* parent, std::int32_t index) {
    QMenu* menu = parent->menu();
    if (menu == nullptr) {
        menu = new QMenu(parent->text(), qobject_cast<QWidget*>(parent->parent()));
        parent->setMenu(menu);
    }
    auto* item = new QAction(menu);
    const auto actions = menu->actions();
    if (index >= 0 && index < actions.size())
        menu->insertAction(actions[index], item);
    else
        menu->addAction(item);
    return item;
}

// What a host shows for a state code (upper five bits: the kind).
QString StateText(std::uint8_t code) {
    switch (code & 0xF8) {
        case 0xC0:
            return QStringLiteral("Свободна");
        case 0xE8:
            return QStringLiteral("Разрешён отпуск");
        case 0xE0:
            return QStringLiteral("Пистолет снят");
        case 0xD8:
            return QStringLiteral("Отпуск топлива");
        case 0xD0:
            return QStringLiteral("Отпуск завершён");
        default:
            return QStringLiteral("Код %1").arg(code);
    }
}

class StationWindow : public QMainWindow {
public:
    StationWindow(const GuiOptions& options, const QString& device) : options_(options) {
        setWindowTitle(QStringLiteral("АЗС — станция (zarvik-host)"));
        resize(760, 360);

        // The main menu as the driver sees it: a root item whose sub-items
        // are the top-level menus; the menu bar shows the same items.
        rootMenu_ = new QMenu(this);
        QMenu* file = rootMenu_->addMenu(QStringLiteral("&Файл"));
        trkMenu_ = rootMenu_->addMenu(QStringLiteral("&ТРК"));
        QMenu* help = rootMenu_->addMenu(QStringLiteral("&Справка"));
        for (QAction* top : rootMenu_->actions()) menuBar()->addAction(top);

        QAction* quit = file->addAction(QStringLiteral("В&ыход"));
        quit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
        connect(quit, &QAction::triggered, this, &QWidget::close);
        QAction* pour = trkMenu_->addAction(QStringLiteral("Налить %1 л на ТРК 1").arg(kDemoDose));
        connect(pour, &QAction::triggered, this, [this] { Pour(); });
        trkMenu_->addSeparator();
        QAction* about = help->addAction(QStringLiteral("&О программе"));
        connect(about, &QAction::triggered, this, [this] {
            QMessageBox::about(this, windowTitle(),
                               QStringLiteral("Станция с драйвером ТРК, загруженным из библиотеки."));
        });

        table_ = new QTableWidget(options.dispensers, 6, this);
        table_->setHorizontalHeaderLabels({QStringLiteral("ТРК"), QStringLiteral("Состояние"),
                                           QStringLiteral("Пистолет"), QStringLiteral("Литры"), QStringLiteral("Сумма"),
                                           QStringLiteral("Связь")});
        table_->verticalHeader()->hide();
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        for (int d = 1; d <= options.dispensers; ++d) SetCell(d, 0, QString::number(d), Qt::AlignCenter);
        setCentralWidget(table_);
        statusBar()->showMessage(QStringLiteral("Линия %1: %2").arg(options.line).arg(device));

        connect(&pollTimer_, &QTimer::timeout, this, [this] { Poll(); });
    }

    // The driver must exist before the entry can go into the menu.
    void Attach(TDriver25* driver) {
        driver_ = driver;
        CallSlot<void, QAction*, zarvik::TMenuItemFactory>(driver_, zarvik::kSlotInsertMenuEntry,
                                                           rootMenu_->menuAction(), &HostMenuItemFactory);
        pollTimer_.start(kPollMs);
        Poll();
    }

    // The driver's entry in "&ТРК", or null when it inserted none.
    QAction* ServiceEntry() const {
        for (QAction* item : trkMenu_->actions())
            if (item->text() == QStringLiteral("Настройка ТРК Зенто-М")) return item;
        return nullptr;
    }

private:
    void SetCell(int dispenser, int column, const QString& text, Qt::Alignment align = Qt::AlignRight) {
        auto* item = table_->item(dispenser - 1, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            table_->setItem(dispenser - 1, column, item);
        }
        item->setText(text);
        item->setTextAlignment(align | Qt::AlignVCenter);
    }

    void Poll() {
        // A library window running modally owns the line meanwhile.
        if (driver_ == nullptr || QApplication::activeModalWidget() != nullptr) return;
        for (int d = 1; d <= options_.dispensers; ++d) {
            try {
                TDispenserStatus status{};
                CallSlot<void, std::int32_t, std::int32_t, std::int32_t, TDispenserStatus&>(
                    driver_, zarvik::kSlotGetDispenserStatus, options_.line, d, options_.nozzles, status);
                const auto result =
                    CallSlot<std::uint8_t, std::int32_t>(driver_, zarvik::kSlotGetLineResult, options_.line);
                double litres = 0, money = 0;
                CallSlot<void, std::int32_t, std::int32_t, double&, double&>(driver_, zarvik::kSlotGetDeliveryValues,
                                                                             options_.line, d, litres, money);
                SetCell(d, 1, StateText(status.State), Qt::AlignLeft);
                SetCell(d, 2, status.StateNozzle ? QString::number(status.StateNozzle) : QStringLiteral("—"),
                        Qt::AlignCenter);
                SetCell(d, 3, QString::number(litres, 'f', 2));
                SetCell(d, 4, QString::number(money, 'f', 2));
                SetCell(d, 5, result == 1 ? QStringLiteral("есть") : QStringLiteral("нет (%1)").arg(result),
                        Qt::AlignCenter);
            } catch (const std::exception& error) {
                SetCell(d, 1, QString::fromUtf8(error.what()), Qt::AlignLeft);
                SetCell(d, 5, QStringLiteral("нет"), Qt::AlignCenter);
            }
        }
    }

    void Pour() {
        try {
            CallSlot<std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, double>(
                driver_, zarvik::kSlotSetVolumeDose, options_.line, 1, 1, 0, kDemoDose);
            CallSlot<std::int32_t, std::int32_t, std::int32_t, std::int32_t>(driver_, zarvik::kSlotStartDispenser,
                                                                             options_.line, 1, 1);
        } catch (const std::exception& error) {
            QMessageBox::critical(this, windowTitle(), QString::fromUtf8(error.what()));
        }
    }

    GuiOptions options_;
    QMenu* rootMenu_;
    QMenu* trkMenu_;
    QTableWidget* table_;
    QTimer pollTimer_;
    TDriver25* driver_ = nullptr;
};

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

// The parameter window once it runs modally and the read-all pass over its
// page `tab` is over.
QDialog* LoadedParamWindow(int tab = 0) {
    auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (window == nullptr || window->objectName() != QStringLiteral("ParamFrm")) return nullptr;
    auto* tabs = window->findChild<QTabBar*>();
    if (tabs == nullptr || tabs->currentIndex() != tab) return nullptr;
    if (tabs->tabText(tab) == QStringLiteral("Таблица %1").arg(tab + 1)) return nullptr;  // not loaded yet
    auto* readAll = window->findChild<QAbstractButton*>(QStringLiteral("Button1"));
    return readAll != nullptr && readAll->isEnabled() ? window : nullptr;
}

// Opens the calibration dialog from the parameter window, types an ordered
// dose and the volume poured, takes its picture and cancels it.
void PictureCalibration(QDialog* params, const QString& file, int& exitCode) {
    auto* calcKoef = params->findChild<QAbstractButton*>(QStringLiteral("CalcKoef"));
    if (calcKoef == nullptr) {
        std::cerr << "zarvik-host gui: no calibration button\n";
        exitCode = 1;
        return;
    }
    exitCode = 1;
    Repeat(
        params, kWindowWaitMs,
        [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != QStringLiteral("CalculateFrm")) return false;
            if (auto* dose = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Doza"))) dose->setValue(kDemoDose);
            if (auto* poured = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Fact"))) poured->setValue(10.1);
            exitCode = SavePicture(dialog, file) ? 0 : 1;
            dialog->reject();
            return true;
        },
        [] {
            std::cerr << "zarvik-host gui: the calibration dialog did not open\n";
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
        });
    calcKoef->click();  // modal: returns once the dialog was cancelled
}

// Takes the picture the options ask for (the station window, the parameter
// window, or the calibration dialog opened from its second page) and ends
// the application's loop. Runs on the GUI thread once the station polled.
void TakeScreenshot(StationWindow* window, const GuiOptions& options, int& exitCode) {
    const auto fail = [&exitCode](const char* what) {
        std::cerr << "zarvik-host gui: " << what << "\n";
        exitCode = 1;
        while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
    };
    if (!options.openParams && !options.openCalibration) {
        exitCode = SavePicture(window, options.screenshot) ? 0 : 1;
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
                auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                auto* tabs = modal ? modal->findChild<QTabBar*>() : nullptr;
                if (LoadedParamWindow(0) != nullptr && tabs != nullptr) tabs->setCurrentIndex(1);
            }
            QDialog* params = LoadedParamWindow(tab);
            if (params == nullptr) return false;
            if (tab == 0) {
                exitCode = SavePicture(params, options.screenshot) ? 0 : 1;
            } else {
                PictureCalibration(params, options.screenshot, exitCode);
            }
            params->reject();
            return true;
        },
        [&] { fail("the parameter window did not load"); });
    entry->trigger();  // modal: returns once the picture is taken
    QApplication::quit();
}

}  // namespace

int RunStationGui(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) return 2;
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("zarvik-host"));

    std::unique_ptr<zarvik::host::EmbeddedSimulator> simulator;
    std::string device = options->port;
    try {
        if (device.empty()) {
            zarvik::sim::StationConfig config;
            config.nozzlesPerDispenser = options->nozzles;
            config.timing.flowLitresPerSecond = 2.5;
            simulator = std::make_unique<zarvik::host::EmbeddedSimulator>(config);
            device = simulator->Start();
        }
    } catch (const std::exception& error) {
        std::cerr << "zarvik-host gui: simulator: " << error.what() << "\n";
        return 1;
    }

    const std::string libraryPath = options->library.empty() ? zarvik::host::DefaultLibraryPath() : options->library;
    // The library stays loaded to the end: its windows live as long as ours.
    void* library = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::cerr << "zarvik-host gui: " << dlerror() << "\n";
        return 1;
    }
    auto getVM30 = reinterpret_cast<GetVM30Fn>(dlsym(library, "GetVM30"));
    if (getVM30 == nullptr) {
        std::cerr << "zarvik-host gui: GetVM30 not found in " << libraryPath << "\n";
        return 1;
    }

    std::unique_ptr<zarvik::capture::CaptureWriter> capture;
    zarvik::port::SerialPortManager port;
    port.SetDevice(options->line, device);
    if (!options->capture.empty()) {
        try {
            capture = std::make_unique<zarvik::capture::CaptureWriter>(options->capture);
        } catch (const std::exception& error) {
            std::cerr << "zarvik-host gui: " << error.what() << "\n";
            return 1;
        }
        port.SetTraceHook(
            [&capture](const zarvik::port::FrameTraceEvent& e) { zarvik::host::RecordFrame(*capture, e); });
    }
    auto window = std::make_unique<StationWindow>(*options, QString::fromStdString(device));
    // The library's windows take the main window as their parent.
    std::unique_ptr<TDriver25> driver(getVM30(0, reinterpret_cast<std::intptr_t>(window.get()), &port));
    int exitCode = 0;
    try {
        const auto opened = CallSlot<std::int32_t, std::int32_t>(driver.get(), zarvik::kSlotOpenPort, options->line);
        if (opened != 0) std::cerr << "zarvik-host gui: line " << options->line << " not open (" << opened << ")\n";
        window->Attach(driver.get());
    } catch (const std::exception& error) {
        std::cerr << "zarvik-host gui: " << error.what() << "\n";
        return 1;
    }
    window->show();

    if (!options->screenshot.isEmpty())
        QTimer::singleShot(kScreenshotSettleMs, window.get(),
                           [&] { TakeScreenshot(window.get(), *options, exitCode); });
    const int loopCode = app.exec();
    // The driver goes before the window and the port service it uses.
    driver.reset();
    window.reset();
    if (capture && !zarvik::host::CheckCapture(*capture, std::cerr) && exitCode == 0) exitCode = 1;
    return exitCode != 0 ? exitCode : loopCode;
}
