// The station window's rows as a cashier reads them, on one simulated line
// with dispensers 1 and 2 of two nozzles each and the shipped library loaded
// as the host loads it: values belong to the nozzle they are shown for, a
// frozen line goes stale, a bad reply is named and shows no values, a
// delivery the line lost stays until acknowledged, and the delivery button
// pours where it says.
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

#include "loader/DriverLibrary.h"
#include "port/SerialPortManager.h"
#include "sim/SerialEndpoint.h"
#include "sim/Station.h"
#include "stationwindow/StationWindow.h"

namespace {

using zarvik::host::StationWindow;
using zarvik::sim::FaultMode;

constexpr int kLine = 1;
constexpr int kWaitMs = 30000;
// Long enough that a frozen line is marked stale well before its poll gives up.
constexpr std::chrono::milliseconds kResponse{4000};

enum Column { kColState = 2, kColNozzle, kColLitres, kColMoney, kColLink, kColReadAt, kColLost };
enum QualityColumn { kColLastCause = 8 };

}  // namespace

class StationLiveTest : public QObject {
    Q_OBJECT

    zarvik::host::DriverLibrary library_;
    std::unique_ptr<zarvik::sim::Station> station_;
    std::unique_ptr<zarvik::sim::SerialEndpoint> endpoint_;
    std::unique_ptr<zarvik::port::SerialPortManager> port_;
    std::unique_ptr<StationWindow> window_;
    std::unique_ptr<zarvik::TDriver25> driver_;
    QStringList errorBoxes_;
    QTimer boxWatch_;

    QTableWidget* Table(const char* name) const { return window_->findChild<QTableWidget*>(QString::fromLatin1(name)); }
    QString Cell(int row, int column, const char* table = "DispensersTable") const {
        const QTableWidgetItem* item = Table(table)->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    bool WaitCell(int row, int column, const QString& text) const {
        return QTest::qWaitFor([&] { return Cell(row, column) == text; }, kWaitMs);
    }
    QAction* Action(const char* name) const { return window_->findChild<QAction*>(QString::fromLatin1(name)); }

private Q_SLOTS:
    void initTestCase() {
        library_.Load(ZARVIK_LIBRARY_PATH);
        zarvik::sim::StationConfig config;
        config.addresses = {1};
        config.nozzlesPerDispenser = 2;
        config.timing = {0.05, 0.05, 0.5, 0.5, 0.5};
        station_ = std::make_unique<zarvik::sim::Station>(config);
        endpoint_ = std::make_unique<zarvik::sim::SerialEndpoint>(*station_, zarvik::sim::EndpointOptions{9600, false});
        const std::string pty = endpoint_->OpenPty();
        endpoint_->Start();

        port_ = std::make_unique<zarvik::port::SerialPortManager>();
        QVERIFY(port_->SetDevice(kLine, pty));
        zarvik::port::LineSettings settings;
        settings.response = kResponse;
        port_->SetSettings(kLine, settings);
        window_ = std::make_unique<StationWindow>(std::vector<zarvik::host::StationWindowLine>{
            {zarvik::host::PolledLine::Numbered(kLine, 2, 2), QString::fromStdString(pty)}});
        driver_.reset(library_.Create(0, port_.get(), reinterpret_cast<std::intptr_t>(window_.get())));
        QVERIFY(driver_ != nullptr);
        QCOMPARE(driver_->OpenPort(kLine), 0);
        connect(&boxWatch_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                errorBoxes_ << box->text();
                box->reject();
            }
        });
        boxWatch_.start(200);
        window_->Attach(driver_.get(), *port_);
        window_->show();
        QVERIFY(WaitCell(0, kColLink, QStringLiteral("есть")));
    }

    void cleanupTestCase() {
        boxWatch_.stop();
        if (window_) window_->StopPolling();
        driver_.reset();
        window_.reset();
        endpoint_.reset();
        port_.reset();
    }

    // Another program started nozzle 2; this process never started a nozzle,
    // so the driver's delivery values are nozzle 1's zeros.
    void aDeliveryStartedElsewhereShowsItsOwnNozzle() {
        QVERIFY(station_->StartDelivery(1, 2, 500.0, zarvik::sim::SimClock::now()));
        QVERIFY(QTest::qWaitFor([&] { return Cell(0, kColLitres).toDouble() > 0.2; }, kWaitMs));
        QCOMPARE(Cell(0, kColNozzle), QStringLiteral("2"));
        // The values are nozzle 2's as the dispenser reported them: never more
        // than it has metered by now, money at its price.
        const double litres = Cell(0, kColLitres).toDouble();
        QVERIFY(litres <= station_->Nozzle(1, 2).volume / 1000.0 + 0.005);
        const double money = litres * 45.67;  // the simulator's price
        QVERIFY(std::abs(Cell(0, kColMoney).toDouble() - money) <= 0.05 + money * 0.02);
        QVERIFY(!Cell(0, kColReadAt).isEmpty());
    }

    // The line stops answering mid-delivery: stale long before the poll gives
    // up, then "нет ответа" with no values, and the delivery kept, marked.
    void aFrozenLineGoesStaleAndTheLostDeliveryStays() {
        QVERIFY(WaitCell(0, kColLink, QStringLiteral("есть")));
        const QString litres = Cell(0, kColLitres);
        station_->SetFaultRate(FaultMode::kDropReply, 1.0);
        QVERIFY(WaitCell(0, kColLink, QStringLiteral("данные устарели")));
        QVERIFY(WaitCell(0, kColLink, QStringLiteral("нет ответа")));
        QCOMPARE(Cell(0, kColLitres), QStringLiteral("—"));
        QCOMPARE(Cell(0, kColMoney), QStringLiteral("—"));
        QVERIFY2(Cell(0, kColState).contains(QStringLiteral("ошибка линии 300")), qPrintable(Cell(0, kColState)));
        QVERIFY(QTest::qWaitFor([&] { return Cell(0, kColLastCause, "LinesTable").contains("ошибка линии 300"); },
                                kWaitMs));
        const QString lost = Cell(0, kColLost);
        QVERIFY2(lost.startsWith(QStringLiteral("пистолет 2: ")) && lost.contains(QStringLiteral(" — прерван 20")),
                 qPrintable(lost));
        QVERIFY(lost.contains(litres.left(litres.indexOf(QLatin1Char('.')))));

        // The line comes back, the dispenser's sale goes on or not: the lost
        // one stays until acknowledged on its row.
        station_->ClearFaults();
        QVERIFY(WaitCell(0, kColLink, QStringLiteral("есть")));
        QCOMPARE(Cell(0, kColLost), lost);
        Table("DispensersTable")->selectRow(1);
        QVERIFY(!Action("AckAction")->isEnabled());
        Table("DispensersTable")->selectRow(0);
        QVERIFY(Action("AckAction")->isEnabled());
        Action("AckAction")->trigger();
        QCOMPARE(Cell(0, kColLost), QString());
    }

    void aBadReplyIsNamedAndShowsNoValues() {
        station_->SetFaultRate(FaultMode::kBadChecksum, 1.0);
        QVERIFY(WaitCell(1, kColLink, QStringLiteral("плохой ответ")));
        for (int column : {kColNozzle, kColLitres, kColMoney}) QCOMPARE(Cell(1, column), QStringLiteral("—"));
        QVERIFY2(Cell(1, kColState).contains(QStringLiteral("ошибка линии")), qPrintable(Cell(1, kColState)));
        QVERIFY(!Cell(1, kColReadAt).isEmpty());  // when it was last good
        station_->ClearFaults();
        QVERIFY(WaitCell(1, kColLink, QStringLiteral("есть")));
    }

    void theDeliveryButtonPoursOnTheSelectedDispenserAndNozzle() {
        Table("DispensersTable")->selectRow(1);
        auto* nozzle = window_->findChild<QSpinBox*>(QStringLiteral("PourNozzle"));
        QVERIFY(nozzle != nullptr);
        nozzle->setValue(2);
        QAction* pour = Action("PourAction");
        QVERIFY2(pour->text().contains(QStringLiteral("ТРК 2, пистолет 2")), qPrintable(pour->text()));
        pour->trigger();
        // A start takes the dose over: the nozzle pours.
        QVERIFY(QTest::qWaitFor([&] { return station_->Nozzle(2, 2).poured > 0; }, kWaitMs));
        QCOMPARE(station_->Nozzle(2, 1).poured, 0.0);
        QCOMPARE(station_->Nozzle(1, 1).poured, 0.0);
        QCOMPARE(errorBoxes_, QStringList());
    }
};

QTEST_MAIN(StationLiveTest)
#include "StationLiveTest.moc"
