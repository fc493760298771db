// The calibration dialog driven as the operator drives it: the modal dialog
// runs for real, a zero-delay timer types the values and presses the keys.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "library/Application.h"
#include "library/DriverObject.h"
#include "params/NumberInput.h"
#include "protocol/Frame.h"
#include "support/FakeDispenser.h"
#include "support/FakePortManager.h"
#include "ui/CalculateForm.h"
#include "zarvik/exceptions.h"

using zarvik::CalculateFrm;
using zarvik::RunCalibration;
using zarvik::TCalculateFrm;
using zarvik::testing::FakeDispenser;
using zarvik::testing::FakePortManager;

namespace {

constexpr int kLine = 2;
constexpr int kAddress = 5;
constexpr int kCoefficientField = 21;

std::uint8_t Command(const std::vector<std::uint8_t>& frame) { return frame.size() > 4 ? frame[4] : 0; }

}  // namespace

class CalculateFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakePortManager> port_;
    std::unique_ptr<FakeDispenser> dispenser_;
    std::unique_ptr<zarvik::TVM30> driver_;
    QStringList messages_;

    // Table 2 as the dispenser describes it: 21 two-byte fields, 4 rows.
    void DescribeTable2() {
        zarvik::testing::FakeTable table{"\xD2\xE0\xE1\xEB\xE8\xF6\xE0 2", 4, {}};
        for (int f = 1; f <= kCoefficientField; ++f) table.fields.push_back({"F", 0, 2, 0, 65535});
        dispenser_->tables[2] = table;
    }

    std::uint32_t& Stored(int row) { return dispenser_->values[FakeDispenser::Key(2, row, kCoefficientField)]; }

    int CountCommand(std::uint8_t command) const {
        int n = 0;
        for (const auto& frame : port_->Frames()) n += Command(frame) == command;
        return n;
    }

    // Runs RunCalibration while `script` acts on the shown dialog. Whatever
    // the script leaves open is cancelled, so a test never hangs.
    void Run(int row, const std::function<void(TCalculateFrm&)>& script) {
        QTimer::singleShot(0, this, [script] {
            QVERIFY(CalculateFrm != nullptr && CalculateFrm->isVisible());
            script(*CalculateFrm);
            if (CalculateFrm->isVisible()) CalculateFrm->reject();
        });
        RunCalibration(kLine, kAddress, row);
    }

    static void Type(TCalculateFrm& dialog, double dose, double poured) {
        dialog.Doza->setValue(dose);
        dialog.Fact->setValue(poured);
    }

private slots:
    void init() {
        port_ = std::make_unique<FakePortManager>();
        dispenser_ = std::make_unique<FakeDispenser>();
        dispenser_->recordRequests = false;
        port_->responder = [d = dispenser_.get()](const std::uint8_t* f, std::size_t n, std::uint8_t* r,
                                                  std::size_t c) { return d->Respond(f, n, r, c); };
        driver_ = std::make_unique<zarvik::TVM30>(0, port_.get());
        zarvik::DriverObject = driver_.get();
        DescribeTable2();
        messages_.clear();
        zarvik::SetCalculateErrorHook([this](QWidget*, const QString& text) { messages_ << text; });
    }

    void cleanup() {
        zarvik::DriverObject = nullptr;
        zarvik::SetCalculateErrorHook({});
    }

    void closeCheck_data() {
        QTest::addColumn<double>("dose");
        QTest::addColumn<double>("poured");
        QTest::addColumn<QString>("message");
        QTest::newRow("dose 1.5") << 1.5 << 10.0 << "Заказанная доза менее 2 литров";
        QTest::newRow("dose 1.999 and poured 0.5: dose first") << 1.999 << 0.5 << "Заказанная доза менее 2 литров";
        QTest::newRow("dose 2, poured 0.5") << 2.0 << 0.5 << "Налито менее 1 литра";
        QTest::newRow("dose 2, poured 0.999") << 2.0 << 0.999 << "Налито менее 1 литра";
        QTest::newRow("exactly 2 and 1 closes") << 2.0 << 1.0 << QString();
    }
    void closeCheck() {
        QFETCH(double, dose);
        QFETCH(double, poured);
        QFETCH(QString, message);
        bool openAfterOk = false;
        Run(1, [&](TCalculateFrm& dialog) {
            Type(dialog, dose, poured);
            dialog.BitBtn2->click();
            openAfterOk = dialog.isVisible();
        });
        QCOMPARE(openAfterOk, !message.isEmpty());
        QCOMPARE(messages_, message.isEmpty() ? QStringList() : QStringList{message});
        // A dialog kept open and then cancelled reaches the dispenser not at all.
        QCOMPARE(CountCommand(zarvik::protocol::kCmdReadParameter), message.isEmpty() ? 1 : 0);
        QCOMPARE(CountCommand(zarvik::protocol::kCmdWriteParameter), message.isEmpty() ? 1 : 0);
    }

    void writesCoefficient_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("stored");
        QTest::addColumn<double>("dose");
        QTest::addColumn<double>("poured");
        QTest::addColumn<int>("written");
        QTest::newRow("0, 10 -> 10.1") << 1 << 0 << 10.0 << 10.1 << 100;
        QTest::newRow("0, 10 -> 9.9") << 1 << 0 << 10.0 << 9.9 << -100;
        QTest::newRow("100, 10.1 -> 10.2") << 2 << 100 << 10.1 << 10.2 << 50;
        QTest::newRow("0, poured as ordered") << 3 << 0 << 10.0 << 10.0 << 0;
        QTest::newRow("stored 0xFF9C is -100") << 4 << 0xFF9C << 10.0 << 10.0 << -100;
    }
    void writesCoefficient() {
        QFETCH(int, row);
        QFETCH(int, stored);
        QFETCH(double, dose);
        QFETCH(double, poured);
        QFETCH(int, written);
        Stored(row) = static_cast<std::uint32_t>(stored);
        port_->calls.clear();
        Run(row, [&](TCalculateFrm& dialog) {
            Type(dialog, dose, poured);
            dialog.BitBtn2->click();
        });
        QVERIFY(messages_.isEmpty());
        QCOMPARE(static_cast<std::int16_t>(Stored(row)), static_cast<std::int16_t>(written));

        // The read and the write both name table 2, this row, field 21
        // (parameter code row * 100 + 1020021).
        int parameterFrames = 0;
        for (const auto& frame : port_->Frames()) {
            const auto command = Command(frame);
            if (command != zarvik::protocol::kCmdReadParameter && command != zarvik::protocol::kCmdWriteParameter)
                continue;
            ++parameterFrames;
            QCOMPARE(frame[2], std::uint8_t{kAddress});
            QCOMPARE(frame[5], std::uint8_t{2});
            QCOMPARE(frame[6] | frame[7] << 8, row);
            QCOMPARE(frame[8], std::uint8_t{kCoefficientField});
        }
        QCOMPARE(parameterFrames, 2);
    }

    void rowThreeIsCode1020321() {
        // The driver splits the code back into table, row and field: the
        // read for row 3 must reach table 2, row 3, field 21.
        Stored(3) = 0;
        Run(3, [](TCalculateFrm& dialog) {
            Type(dialog, 10.0, 10.1);
            dialog.BitBtn2->click();
        });
        QCOMPARE(static_cast<std::int16_t>(Stored(3)), std::int16_t{100});
        QCOMPARE(Stored(1), 0u);
    }

    // Enter in an edit is ЗАПИСАТЬ; Enter on a focused button presses that
    // button, so "Закрыть (Esc)" never writes.
    void keys_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("writes");
        QTest::newRow("Enter in Fact is ЗАПИСАТЬ") << "Fact" << int(Qt::Key_Return) << 1;
        QTest::newRow("keypad Enter in Doza is ЗАПИСАТЬ") << "Doza" << int(Qt::Key_Enter) << 1;
        QTest::newRow("Esc is Закрыть") << "Fact" << int(Qt::Key_Escape) << 0;
        QTest::newRow("Enter on Закрыть closes") << "BitBtn1" << int(Qt::Key_Return) << 0;
        QTest::newRow("keypad Enter on Закрыть closes") << "BitBtn1" << int(Qt::Key_Enter) << 0;
        QTest::newRow("Enter on ЗАПИСАТЬ writes") << "BitBtn2" << int(Qt::Key_Return) << 1;
    }
    void keys() {
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(int, writes);
        bool closed = false;
        Run(1, [&](TCalculateFrm& dialog) {
            Type(dialog, 10.0, 10.1);
            QTest::keyClick(dialog.findChild<QWidget*>(target), static_cast<Qt::Key>(key));
            closed = !dialog.isVisible();
        });
        QVERIFY(closed);
        QCOMPARE(CountCommand(zarvik::protocol::kCmdWriteParameter), writes);
    }

    // The poured volume as typed in the Russian locale: "." and "," are both
    // the decimal separator; grouped text or two separators are named and
    // nothing is written.
    void typedNumbers_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("message");  // set: refused, nothing written
        QTest::newRow("10.1") << "10.1" << 100 << QString();
        QTest::newRow("10,1") << "10,1" << 100 << QString();
        QTest::newRow("9.9") << "9.9" << -100 << QString();
        QTest::newRow("grouped 1 010,5") << "1 010,5" << 0 << QString::fromUtf8(zarvik::params::kNumberGrouped);
        QTest::newRow("two separators 10.1,0")
            << "10.1,0" << 0 << QString::fromUtf8(zarvik::params::kNumberTwoSeparators);
    }
    void typedNumbers() {
        QFETCH(QString, typed);
        QFETCH(int, written);
        QFETCH(QString, message);
        Stored(1) = 0;
        Run(1, [&](TCalculateFrm& dialog) {
            dialog.Fact->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
            dialog.Doza->setValue(10.0);
            dialog.Fact->setValue(2.0);
            dialog.Fact->selectAll();
            QTest::keyClicks(dialog.Fact, typed);
            QTest::keyClick(dialog.Fact, Qt::Key_Return);
            if (!message.isEmpty()) QCOMPARE(dialog.Fact->text(), typed);  // kept as typed
        });
        QCOMPARE(messages_, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(CountCommand(zarvik::protocol::kCmdWriteParameter), message.isEmpty() ? 1 : 0);
        if (message.isEmpty()) QCOMPARE(static_cast<std::int16_t>(Stored(1)), static_cast<std::int16_t>(written));
    }

    void cancelKeepsTypedValues() {
        Run(1, [](TCalculateFrm& dialog) {
            Type(dialog, 12.5, 12.625);
            dialog.BitBtn1->click();
        });
        QVERIFY(port_->Frames().empty());

        double dose = 0, poured = 0;
        Run(1, [&](TCalculateFrm& dialog) {
            dose = dialog.Doza->value();
            poured = dialog.Fact->value();
        });
        QCOMPARE(dose, 12.5);
        QCOMPARE(poured, 12.625);
        QVERIFY(port_->Frames().empty());
    }

    void badLineResultWritesNothing() {
        // A read answered with a broken checksum leaves line result 3.
        auto reply = zarvik::testing::Frame(kAddress, {0x1F, 0x00, 0x10, 0x00});
        reply.back() ^= 0xFF;
        port_->Push(reply);
        Run(1, [](TCalculateFrm& dialog) {
            Type(dialog, 10.0, 10.1);
            dialog.BitBtn2->click();
        });
        QCOMPARE(driver_->GetLineResult(kLine), std::uint8_t{3});
        QCOMPARE(CountCommand(zarvik::protocol::kCmdReadParameter), 1);
        QCOMPARE(CountCommand(zarvik::protocol::kCmdWriteParameter), 0);
    }

    void failures_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("exchangeFails");
        QTest::addColumn<bool>("noDriver");
        QTest::newRow("stored 65535 is -1: refused") << 65535 << false << false;
        QTest::newRow("read exchange fails") << 0 << true << false;
        QTest::newRow("no driver loaded") << 0 << false << true;
    }
    void failures() {
        QFETCH(int, stored);
        QFETCH(bool, exchangeFails);
        QFETCH(bool, noDriver);
        Stored(1) = static_cast<std::uint32_t>(stored);
        if (exchangeFails)
            port_->script.push_back({{}, false, false, false, false, zarvik::testing::kFakeTransportError});
        if (noDriver) zarvik::DriverObject = nullptr;
        QString error;
        try {
            Run(1, [](TCalculateFrm& dialog) {
                Type(dialog, 10.0, 10.1);
                dialog.BitBtn2->click();
            });
        } catch (const zarvik::Exception& e) {
            error = QString::fromUtf8(e.what());
        }
        QVERIFY2(!error.isEmpty(), "RunCalibration must raise");
        QCOMPARE(CountCommand(zarvik::protocol::kCmdWriteParameter), 0);
        QCOMPARE(Stored(1), static_cast<std::uint32_t>(stored));
    }

    // "Заказано", "Налито" and both buttons' captions are drawn whole at the
    // form's geometry, in fonts that are really installed.
    void captionsFitTheirControls() {
        TCalculateFrm dialog;
        QStringList problems;
        const auto check = [&](QWidget* w, const QString& text, bool fits) {
            if (QFontInfo(w->font()).family() != w->font().family())
                problems << w->objectName() + QStringLiteral(": font ") + w->font().family() +
                                QStringLiteral(" is not installed");
            if (!fits) problems << w->objectName() + QStringLiteral(": \"") + text + QStringLiteral("\" is cut");
        };
        for (QLabel* label : {dialog.Label1, dialog.Label2}) {
            const QSize need = label->sizeHint();
            check(label, label->text(), need.width() <= label->width() && need.height() <= label->height());
        }
        for (QPushButton* button : {dialog.BitBtn1, dialog.BitBtn2})
            check(button, button->text(), button->sizeHint().width() <= button->width());
        QCOMPARE(dialog.Label1->text(), QStringLiteral("Заказано"));
        QCOMPARE(dialog.Label2->text(), QStringLiteral("Налито"));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    }

    void ownerDestroyedBuildsNewDialog() {
        auto host = std::make_unique<QWidget>();
        zarvik::app::SetHandle(reinterpret_cast<std::intptr_t>(host.get()));
        delete CalculateFrm;  // start from no dialog
        QVERIFY(CalculateFrm == nullptr);
        Run(1, [](TCalculateFrm& dialog) { dialog.BitBtn1->click(); });
        QCOMPARE(CalculateFrm->parentWidget(), host.get());
        host.reset();
        QVERIFY(CalculateFrm == nullptr);
        zarvik::app::SetHandle(0);
        Run(1, [](TCalculateFrm& dialog) {
            Type(dialog, 10.0, 10.1);
            dialog.BitBtn2->click();
        });
        QCOMPARE(static_cast<std::int16_t>(Stored(1)), std::int16_t{100});
    }
};

QTEST_MAIN(CalculateFormTest)
#include "CalculateFormTest.moc"
