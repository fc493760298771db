// The whole road as a station runs it: the shipped library loaded with
// dlopen, the serial port service on a pseudo-terminal served by the
// simulator, the service entry inserted into a host menu and clicked, table 2
// loaded in the parameter window, and the coefficient set from one test
// delivery through the calibration dialog. The next delivery must pour what
// was ordered.
#include <dlfcn.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>
#include <memory>

#include "port/SerialPortManager.h"
#include "sim/ParameterTables.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"
#include "zarvik/exports.h"

namespace {

constexpr int kLine = 1;
constexpr int kDispenser = 1;
constexpr int kNozzle = 1;
constexpr int kRow = 1;  // table 2 row of nozzle byte 0
constexpr double kDose = 10.0;
constexpr int kWaitMs = 30000;

const QString kEntryCaption = QStringLiteral("Настройка ТРК Зенто-М");
const QString kWindowCaption = QStringLiteral("Программирование параметров ТРК");
const QString kCalcKoefCaption = QStringLiteral("Изменить юстировочный коэффициент");
const QString kReadAllCaption = QStringLiteral("Прочитать все параметры");

QAction* HostFactory(QAction* parent, std::int32_t) {
    auto* item = new QAction(parent->menu());
    parent->menu()->addAction(item);
    return item;
}

}  // namespace

class StationE2ETest : public QObject {
    Q_OBJECT

    void* library_ = nullptr;
    std::unique_ptr<zarvik::sim::Station> station_;
    std::unique_ptr<zarvik::sim::SerialEndpoint> endpoint_;
    std::unique_ptr<zarvik::port::SerialPortManager> port_;
    std::unique_ptr<QMainWindow> host_;
    zarvik::TDriver25* driver_ = nullptr;
    QStringList errorBoxes_;
    QTimer boxWatch_;

    // A shown library window under the host's main window, by object name.
    QDialog* VisibleDialog(const QString& name) const {
        auto* dialog = host_->findChild<QDialog*>(name);
        return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
    }

    // Runs `script` once the named window runs modally. A window counts as
    // modal only after its show event, so a script never runs inside the
    // window's own show handling.
    void WhenModal(const QString& name, std::function<void(QDialog*)> script) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll, name, script] {
            QDialog* window = VisibleDialog(name);
            if (window == nullptr || QApplication::activeModalWidget() != window) return;
            poll->stop();
            poll->deleteLater();
            script(window);
        });
        poll->start(20);
    }

    // One delivery of kDose litres ordered through the driver, polled until
    // the nozzle is idle again. Returns the litres really poured.
    double Deliver() {
        driver_->SetVolumeDose(kLine, kDispenser, kNozzle, 0, kDose);
        driver_->StartDispenser(kLine, kDispenser, kNozzle);
        bool started = false;
        const bool done = QTest::qWaitFor(
            [&] {
                zarvik::TDispenserStatus status{};
                driver_->GetDispenserStatus(kLine, kDispenser, 1, status);
                const auto code = station_->Nozzle(kDispenser, kNozzle).status;
                started = started || code != zarvik::sim::kStatusIdle;
                return started && code == zarvik::sim::kStatusIdle;
            },
            kWaitMs);
        if (!done) return -1.0;
        return station_->PouredLitres(kDispenser, kNozzle);
    }

private slots:
    void initTestCase() {
        library_ = dlopen(ZARVIK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(library_ != nullptr, dlerror());
        auto getVM30 = reinterpret_cast<GetVM30Fn>(dlsym(library_, "GetVM30"));
        QVERIFY(getVM30 != nullptr);

        zarvik::sim::StationConfig config;
        config.addresses = {1};
        config.nozzlesPerDispenser = 1;
        config.meterError = 0.01;
        config.timing = {0.05, 0.05, 25.0, 0.5, 0.05};
        station_ = std::make_unique<zarvik::sim::Station>(config);
        endpoint_ = std::make_unique<zarvik::sim::SerialEndpoint>(*station_, zarvik::sim::EndpointOptions{9600, false});
        const std::string pty = endpoint_->OpenPty();
        endpoint_->Start();
        port_ = std::make_unique<zarvik::port::SerialPortManager>();
        QVERIFY(port_->SetDevice(kLine, pty));

        host_ = std::make_unique<QMainWindow>();
        driver_ = getVM30(0, reinterpret_cast<std::intptr_t>(host_.get()), port_.get());
        QVERIFY(driver_ != nullptr);
        QCOMPARE(driver_->OpenPort(kLine), 0);

        // An error box would block the test: note its text and close it.
        connect(&boxWatch_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                errorBoxes_ << box->text();
                box->reject();
            }
        });
        boxWatch_.start(200);
    }

    void cleanupTestCase() {
        boxWatch_.stop();
        delete driver_;  // the host owns the driver object
        host_.reset();   // and with its main window the library's windows
        endpoint_.reset();
        port_.reset();
        // The library stays loaded: Qt may still hold its metaobjects.
    }

    void calibrationMakesTheNextDeliveryExact() {
        // The host's menu: a root item whose sub-menus are the main menus.
        QMenu root;
        root.addMenu(QStringLiteral("&Файл"));
        QMenu* trk = root.addMenu(QStringLiteral("&ТРК"));
        root.addMenu(QStringLiteral("&Справка"));
        driver_->InsertMenuEntry(root.menuAction(), &HostFactory);
        QCOMPARE(trk->actions().size(), 1);
        QAction* entry = trk->actions().first();
        QCOMPARE(entry->text(), kEntryCaption);

        const double before = Deliver();
        QVERIFY2(before > 0, "first delivery did not finish");
        QVERIFY(std::abs(before - kDose * 1.01) < 0.005);

        QString table2Tab;
        bool calcKoefShown = false;
        WhenModal(QStringLiteral("ParamFrm"), [&](QDialog* window) {
            // Whatever fails below, the modal window must close again.
            const auto closeWindow = qScopeGuard([&] { window->reject(); });
            auto* readAll = window->findChild<QAbstractButton*>(QStringLiteral("Button1"));
            auto* tabControl = window->findChild<QWidget*>(QStringLiteral("TabControl1"));
            auto* tabs = tabControl != nullptr ? tabControl->findChild<QTabBar*>() : nullptr;
            QVERIFY(readAll != nullptr && tabs != nullptr);
            // Found by name, shown with the window's texts.
            QCOMPARE(window->windowTitle(), kWindowCaption);
            QCOMPARE(readAll->text(), kReadAllCaption);
            // "Прочитать все параметры" is disabled while a read-all pass runs.
            auto passDone = [&] { return readAll->isEnabled(); };
            QVERIFY(QTest::qWaitFor(passDone, kWaitMs));
            tabs->setCurrentIndex(1);
            QVERIFY(QTest::qWaitFor(passDone, kWaitMs));
            table2Tab = tabs->tabText(1);

            auto* calcKoef = window->findChild<QAbstractButton*>(QStringLiteral("CalcKoef"));
            QVERIFY(calcKoef != nullptr);
            QCOMPARE(calcKoef->text(), kCalcKoefCaption);
            calcKoefShown = calcKoef->isVisible();
            WhenModal(QStringLiteral("CalculateFrm"), [&](QDialog* dialog) {
                const auto cancelDialog = qScopeGuard([&] {
                    if (dialog->isVisible()) dialog->reject();
                });
                dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Doza"))->setValue(kDose);
                dialog->findChild<QDoubleSpinBox*>(QStringLiteral("Fact"))->setValue(before);
                dialog->findChild<QAbstractButton*>(QStringLiteral("BitBtn2"))->click();
            });
            calcKoef->click();  // returns after the dialog closed and the write went out
            QVERIFY(QTest::qWaitFor(passDone, kWaitMs));
        });
        entry->trigger();  // the window runs modally until the script closes it

        QCOMPARE(errorBoxes_, QStringList());
        QCOMPARE(table2Tab, QString::fromStdString(zarvik::sim::DefaultTables(1)[2].name));
        QVERIFY(calcKoefShown);
        const auto written =
            station_->Parameter(1, zarvik::sim::kCoefficientTable, kRow, zarvik::sim::kCoefficientField);
        QVERIFY(written.has_value());
        const auto coefficient = static_cast<std::int16_t>(*written);
        QCOMPARE(coefficient, std::int16_t{100});

        const double after = Deliver();
        qInfo("poured before %.3f L, coefficient written %d, poured after %.3f L", before, coefficient, after);
        QVERIFY2(std::abs(after - kDose) <= 0.01, qPrintable(QString::number(after, 'f', 4)));
    }
};

QTEST_MAIN(StationE2ETest)
#include "StationE2ETest.moc"
