// The parameter window against an in-process dispenser: page loads, the
// read-all pass, reads, writes, status colours, editors and the race of a
// pass with the operator's own requests.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "ParamFrameTexts.h"
#include "WindowRig.h"
#include "params/NumberInput.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "sim/ParameterTables.h"

using namespace zarvik;
using namespace zarvik::testing;

namespace {

constexpr std::uint8_t kRead = protocol::kCmdReadParameter;
constexpr std::uint8_t kWrite = protocol::kCmdWriteParameter;
constexpr std::uint8_t kField = protocol::kCmdFieldInfo;

QString U(const char* s) { return QString::fromUtf8(s); }

QStringList Progress(int from, int to) {
    QStringList texts;
    for (int i = from; i <= to; ++i) texts << U(texts::kReadingParameter).arg(i);
    texts << U(texts::kReadingDone);
    return texts;
}

QStringList Texts(const QSignalSpy& spy) {
    QStringList texts;
    for (const auto& args : spy) texts << args.at(0).toString();
    return texts;
}

// The value a write sent: the last 0x1E frame's value bytes (4-byte field).
std::int64_t LastWrittenValue(const FakePortManager& port) {
    std::int64_t value = -1;
    for (const auto& f : port.Frames())
        if (f.size() >= 14 && f[4] == kWrite)
            value = f[9] | f[10] << 8 | f[11] << 16 | static_cast<std::int64_t>(f[12]) << 24;
    return value;
}

// Does the name of row r fit the name cell as drawn in `image` (a grab of
// the grid's viewport)? The cell is found by its green background; the
// height the name needs comes from a text layout wrapped inside 2-pixel insets.
bool NameFitsItsRow(const TParamFrm& frm, int r, const QImage& image) {
    constexpr int kInset = 2;
    const QRgb green = qRgb(0xC0, 0xDC, 0xC0);
    const TRect cell = frm.RxDGCommon->CellRect(1, r);
    const int x0 = cell.left + 1, y0 = cell.top + 1;
    if (image.pixel(x0, y0) != green) return false;
    int top = y0, bottom = y0, left = x0, right = x0;
    while (top > 0 && image.pixel(x0, top - 1) == green) --top;
    while (bottom + 1 < image.height() && image.pixel(x0, bottom + 1) == green) ++bottom;
    while (left > 0 && image.pixel(left - 1, y0) == green) --left;
    while (right + 1 < image.width() && image.pixel(right + 1, y0) == green) ++right;

    QTextLayout layout(QString::fromStdString(frm.NameText(r)), frm.RxDGCommon->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    qreal needed = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(right - left + 1 - 2 * kInset);
        needed += line.height();
    }
    layout.endLayout();
    return std::ceil(needed) <= bottom - top + 1 - 2 * kInset;
}

}  // namespace

class ParamFrameTest : public QObject {
    Q_OBJECT
private slots:
    void init() { std::setlocale(LC_NUMERIC, "C"); }

    void Opening_TableOfThreeRowsTwelveFields_LoadsAndReadsAll() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Общие параметры", 3, 12);
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.Open();

        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Общие параметры"));
        QCOMPARE(rig.frm->RowLabel->text(), U("Номер ряда   (от 1 до 3)"));
        QCOMPARE(rig.frm->RowEdit->minimum(), 1);
        QCOMPARE(rig.frm->RowEdit->maximum(), 3);
        QVERIFY(rig.frm->RowEdit->isEnabled());
        QCOMPARE(ParamList->Count(), 12);
        QCOMPARE(rig.frm->RxDGCommon->RowCount(), 13);
        for (int i = 0; i < 12; ++i) {
            const CParameter* p = ParamList->Item(i);
            QCOMPARE(int(p->Page), 0);
            QCOMPARE(int(p->ParamNo), i + 1);
            QCOMPARE(p->MaxValue, 1001 + i);
            QCOMPARE(p->Value, 101 + i);  // row 1
            QCOMPARE(QString::fromStdString(p->ReadText), QString::fromStdString(p->ValueText(101 + i)));
        }
        QCOMPARE(Texts(progress), Progress(0, 11));
        QVERIFY(!rig.overlapped.load());
        QVERIFY(hooks.errors.isEmpty());
    }

    void RowEdit_FollowsTheTableRowCount_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("one row") << 1 << 4 << 1 << false;
        QTest::newRow("two rows, row 5 chosen") << 2 << 5 << 2 << true;
        QTest::newRow("six rows keep row 3") << 6 << 3 << 3 << true;
    }
    void RowEdit_FollowsTheTableRowCount() {
        QFETCH(int, rows);
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(bool, enabled);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", rows, 2);
        rig.frm->RowEdit->setValue(before);
        rig.Open();
        QCOMPARE(rig.frm->RowEdit->value(), after);
        QCOMPARE(rig.frm->RowEdit->maximum(), rows);
        QCOMPARE(rig.frm->RowEdit->isEnabled(), enabled);
        // The pass reads the chosen row.
        QCOMPARE(ParamList->Item(1)->Value, after * 100 + 2);
    }

    void PageSwitch_LoadsEachPageOnceAndReadsOnlyItsRows() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Первая", 3, 12);
        AddTable(rig.dispenser, 2, "Вторая", 2, 3);
        rig.Open();
        QCOMPARE(rig.Count(kField), 12);

        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.frm->TabControl1->Tabs->setCurrentIndex(1);
        QVERIFY(rig.WaitPass());
        QCOMPARE(rig.Count(kField), 15);
        QCOMPARE(ParamList->Count(), 15);
        QCOMPARE(Texts(progress), Progress(12, 14));
        QVERIFY(rig.frm->CalcKoef->isVisibleTo(rig.frm.get()));
        for (int r = 1; r <= 12; ++r) QCOMPARE(rig.frm->RxDGCommon->RowHeight(r), -1);
        for (int r = 13; r <= 15; ++r) QVERIFY(rig.frm->RxDGCommon->RowHeight(r) >= 20);
        QVERIFY(rig.frm->RxDGCommon->Row() >= 13);

        progress.clear();
        rig.frm->TabControl1->Tabs->setCurrentIndex(0);
        QVERIFY(rig.WaitPass());
        QCOMPARE(rig.Count(kField), 15);  // no second load
        QCOMPARE(ParamList->Count(), 15);
        QCOMPARE(Texts(progress), Progress(0, 11));
        QVERIFY(!rig.frm->CalcKoef->isVisibleTo(rig.frm.get()));
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(13), -1);
        QVERIFY(hooks.errors.isEmpty());
    }

    void PageLoad_TableNamedLikeItsTab_StillGetsItsDescriptors() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Таблица 1", 1, 4);
        rig.Open();
        QCOMPARE(ParamList->Count(), 4);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Таблица 1"));
    }

    void PageLoad_FieldRequestFails_PageStaysUnloadedAndRetries_data() {
        QTest::addColumn<bool>("serialError");
        QTest::newRow("ESerialIO on field 3") << true;
        QTest::newRow("bad line result on field 2") << false;
    }
    void PageLoad_FieldRequestFails_PageStaysUnloadedAndRetries() {
        QFETCH(bool, serialError);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Сбойная", 2, 5);
        bool failing = true;
        rig.gate = [&](std::uint8_t command, const std::uint8_t* frame) {
            if (!failing || command != kField || frame[6] != 2) return true;
            if (!serialError) return false;
            // The exchange after this one fails at the transport.
            ScriptedReply broken;
            broken.waitCode = kFakeTransportError;
            rig.port.script.push_back(broken);
            return true;
        };
        rig.frm->show();
        QTRY_COMPARE(hooks.errors.size(), 1);
        QCOMPARE(hooks.errors.at(0),
                 serialError ? U("Невозможно выполнить запрос состояния ТРК") : U(texts::kFieldInfoError));
        QCOMPARE(ParamList->Count(), 0);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Таблица 1"));
        QVERIFY(!rig.frm->PageLoaded[0]);
        QVERIFY(rig.frm->Button1->isEnabled());  // no pass started

        failing = false;
        rig.frm->TabControl1Change();
        QVERIFY(rig.WaitPass());
        QCOMPARE(ParamList->Count(), 5);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Сбойная"));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(QString::fromStdString(ParamList->Item(i)->Name), U("Параметр %1").arg(i + 1));
    }

    // A page loads off the GUI thread: a timer started before the first
    // field request fires while that request is held (the hold gives up
    // after a while, so a blocked GUI thread fails here rather than hangs).
    void PageLoad_EventLoopTurnsWhileItRuns() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Медленная", 1, 3);
        std::atomic<bool> fired{false};
        std::atomic<int> firedAtField{-1};
        rig.gate = [&](std::uint8_t command, const std::uint8_t*) {
            if (command != kField || firedAtField.load() >= 0) return true;
            for (int i = 0; i < 5000 && !fired.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            firedAtField.store(fired.load() ? 1 : 0);
            return true;
        };
        QTimer::singleShot(0, [&] { fired.store(true); });
        rig.Open();
        QCOMPARE(firedAtField.load(), 1);
        QCOMPARE(ParamList->Count(), 3);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Медленная"));
        QVERIFY(!rig.overlapped.load());
    }

    // A close during a load ends it at its next exchange; nothing of the
    // half-read page stays, and the next showing loads it whole.
    void PageLoad_CloseDuringIt_StopsThenLoadsWholeNextTime() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Прерванная", 1, 5);
        std::atomic<bool> atField2{false}, closing{false};
        QObject::connect(rig.frm.get(), &QDialog::finished, [&] { closing.store(true); });
        rig.gate = [&](std::uint8_t command, const std::uint8_t* frame) {
            if (command != kField || frame[6] != 2 || closing.load()) return true;
            atField2.store(true);
            // Answered once the close has begun (or after a while, when the
            // GUI thread is blocked).
            for (int i = 0; i < 5000 && !closing.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return true;
        };
        rig.frm->show();
        QTRY_VERIFY(atField2.load());
        rig.frm->done(QDialog::Rejected);
        QTRY_VERIFY(rig.frm->isHidden());
        QVERIFY(!rig.frm->PageLoading());
        QCOMPARE(rig.Count(kField), 2);
        QCOMPARE(ParamList->Count(), 0);
        QVERIFY(!rig.frm->PageLoaded[0]);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Таблица 1"));

        rig.gate = nullptr;
        rig.Open();
        QCOMPARE(rig.Count(kField), 7);
        QCOMPARE(ParamList->Count(), 5);
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(0), U("Прерванная"));
        QCOMPARE(ParamList->Item(4)->Value, 105);
        QVERIFY(!rig.overlapped.load());
        QVERIFY(hooks.errors.isEmpty());
    }

    void ReadRow_WriteOnlyKind_SendsNothing_data() {
        QTest::addColumn<int>("lineResult");
        QTest::addColumn<QString>("text");
        QTest::newRow("line good") << 1 << U("Только запись");
        QTest::newRow("previous exchange bad") << 3 << U(texts::kLinkError);
    }
    void ReadRow_WriteOnlyKind_SendsNothing() {
        QFETCH(int, lineResult);
        QFETCH(QString, text);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        ParamList->Item(0)->Kind = params::pkWriteOnly;
        const int reads = rig.Count(kRead);
        rig.driver.lineResult(1) = static_cast<std::uint8_t>(lineResult);
        QCOMPARE(QString::fromStdString(rig.frm->ReadRow(1)), text);
        QCOMPARE(rig.Count(kRead), reads);
    }

    void Pass_EveryReadBad_RunsToTheEndWithLinkErrors() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 5);
        rig.gate = [](std::uint8_t command, const std::uint8_t*) { return command != kRead; };
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.Open();
        QCOMPARE(Texts(progress), Progress(0, 4));
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(QString::fromStdString(ParamList->Item(i)->ReadText), U(texts::kLinkError));
            QCOMPARE(ParamList->Item(i)->Value, 0);
        }
        QCOMPARE(rig.frm->StatusColour, kColourRed);
        QVERIFY(rig.frm->Timer1->isActive());
        // The failure text stays readable in panel 0.
        QCOMPARE(rig.frm->StatusPanel0->text(), U(texts::kReadError));
        QCOMPARE(hooks.beeps, 0);
    }

    void Pass_SerialErrorOnThirdRead_StopsThere() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 6);
        int reads = 0;
        rig.gate = [&](std::uint8_t command, const std::uint8_t*) {
            if (command == kRead && ++reads == 2) {
                ScriptedReply broken;
                broken.waitCode = kFakeTransportError;
                rig.port.script.push_back(broken);
            }
            return true;
        };
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.Open();
        QCOMPARE(Texts(progress), QStringList({U(texts::kReadingParameter).arg(0), U(texts::kReadingParameter).arg(1),
                                               U(texts::kReadingParameter).arg(2)}));
        QVERIFY(rig.frm->Button1->isEnabled());
        QCOMPARE(ParamList->Item(1)->Value, 102);
        QCOMPARE(ParamList->Item(2)->ReadText, std::string());
        QCOMPARE(ParamList->Item(2)->Value, 0);
        QCOMPARE(ParamList->Item(3)->ReadText, std::string());
        QCOMPARE(rig.frm->StatusPanel0->text(), U("Невозможно выполнить запрос состояния ТРК"));
        QCOMPARE(hooks.beeps, 1);
    }

    void WriteRow_EncodesEachKind_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("second");
        QTest::addColumn<int>("choice");
        QTest::addColumn<qint64>("written");  // -1: nothing sent
        QTest::addColumn<QString>("message");
        const QString done = U(texts::kWriteDone);
        QTest::newRow("kind 3, -5") << 3 << 0 << -5.0 << 0.0 << -1 << qint64(205) << done;
        QTest::newRow("kind 3, 150") << 3 << 0 << 150.0 << 0.0 << -1 << qint64(150) << done;
        QTest::newRow("kind 5, -20") << 5 << 0 << -20.0 << 0.0 << -1 << qint64(220) << done;
        QTest::newRow("kind 2, 12 and 5") << 2 << 0 << 12.0 << 5.0 << -1 << qint64(12005) << done;
        QTest::newRow("kind 4, second choice") << 4 << 0 << 0.0 << 0.0 << 1 << qint64(200) << done;
        QTest::newRow("kind 4, first choice") << 4 << 0 << 0.0 << 0.0 << 0 << qint64(1) << done;
        QTest::newRow("kind 7, third choice") << 7 << 0 << 0.0 << 0.0 << 2 << qint64(2) << done;
        QTest::newRow("kind 0, 2 decimals, 1.25") << 0 << 2 << 1.25 << 0.0 << -1 << qint64(125) << done;
        QTest::newRow("kind 10 refused") << 10 << 0 << 1.0 << 0.0 << -1 << qint64(-1) << U(texts::kReadOnly);
        QTest::newRow("kind 9 refused") << 9 << 0 << 1.0 << 0.0 << -1 << qint64(-1) << U(texts::kWriteError);
        QTest::newRow("kind 12 refused") << 12 << 0 << 1.0 << 0.0 << -1 << qint64(-1) << U(texts::kWriteError);
    }
    void WriteRow_EncodesEachKind() {
        QFETCH(int, kind);
        QFETCH(int, decimals);
        QFETCH(double, first);
        QFETCH(double, second);
        QFETCH(int, choice);
        QFETCH(qint64, written);
        QFETCH(QString, message);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.dispenser.tables[1].fields[0].high = 100000;
        rig.Open();
        CParameter* p = ParamList->Item(0);
        p->Kind = static_cast<params::TParamKind>(kind);
        p->Decimals = static_cast<std::uint8_t>(decimals);
        p->Choices = {"Выкл", "Вкл", "Авто"};
        rig.frm->ChooseEditor(1);
        rig.frm->WriteValueEdit->SetValue(first);
        rig.frm->WriteValueEdit2->SetValue(second);
        if (choice >= 0) rig.frm->WriteValueCB->setCurrentIndex(choice);
        const int writes = rig.Count(kWrite);

        rig.frm->WriteRow(1);

        QCOMPARE(rig.frm->StatusPanel0->text(), message);
        QVERIFY(rig.frm->Timer1->isActive());
        if (written < 0) {
            QCOMPARE(rig.Count(kWrite), writes);
            QCOMPARE(rig.frm->StatusColour, kColourRed);
            return;
        }
        QCOMPARE(rig.Count(kWrite), writes + 1);
        QCOMPARE(LastWrittenValue(rig.port), written);
        QCOMPARE(rig.frm->StatusColour, kColourGreen);
        QCOMPARE(p->Value, static_cast<std::int32_t>(written));  // read back
        QCOMPARE(p->ReadText, p->ValueText(static_cast<std::int32_t>(written)));
    }

    void WriteRow_Refusals_data() {
        QTest::addColumn<int>("failure");  // 0 no driver, 1 refused by dispenser, 2 transport error
        QTest::addColumn<QString>("message");
        QTest::newRow("no driver") << 0 << U(texts::kNoDriverWrite);
        QTest::newRow("dispenser refuses") << 1 << U(texts::kWriteError);
        QTest::newRow("transport fails") << 2 << QString();
    }
    void WriteRow_Refusals() {
        QFETCH(int, failure);
        QFETCH(QString, message);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.Open();
        rig.frm->ChooseEditor(1);
        rig.frm->WriteValueEdit->SetValue(7);
        rig.frm->StatusPanel0->setText(QStringLiteral("old"));
        if (failure == 0) rig.frm->Driver = nullptr;
        if (failure == 1) rig.dispenser.writeAnswer = 1;
        if (failure == 2)
            rig.gate = [&](std::uint8_t command, const std::uint8_t*) {
                if (command == kField) {
                    ScriptedReply broken;
                    broken.waitCode = kFakeTransportError;
                    rig.port.script.push_back(broken);
                }
                return true;
            };
        rig.frm->WriteRow(1);
        QCOMPARE(rig.frm->StatusColour, kColourRed);
        QCOMPARE(rig.frm->StatusPanel0->text(), message);
        QCOMPARE(ParamList->Item(0)->Value, 101);
    }

    void StatusColour_ResetsToButtonFaceAfterTwoSeconds() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.Open();
        rig.frm->ChooseEditor(1);
        rig.frm->WriteRow(1);
        QCOMPARE(rig.frm->StatusColour, kColourGreen);
        QCOMPARE(rig.frm->StatusBar1->palette().color(QPalette::Window), QColor(0, 128, 0));
        QTRY_COMPARE_WITH_TIMEOUT(rig.frm->StatusColour, kColourBtnFace, 5000);
        QVERIFY(!rig.frm->Timer1->isActive());
        QCOMPARE(rig.frm->StatusBar1->palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Button));
    }

    void ColourMessage_FromAnotherThread_RunsOnTheWindowThread() {
        WindowRig rig;
        std::atomic<bool> done{false};
        std::thread sender([&] {
            rig.frm->SendColourMessage(kColourRed);
            done = true;
        });
        QTRY_VERIFY(done.load());
        sender.join();
        QCOMPARE(rig.frm->StatusColour, kColourRed);
        QCOMPARE(rig.frm->StatusBar1->palette().color(QPalette::Window), QColor(255, 0, 0));
    }

    void Enter_ConfirmOrCancel_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("OK writes") << true;
        QTest::newRow("Cancel writes nothing") << false;
    }
    void Enter_ConfirmOrCancel() {
        QFETCH(bool, answer);
        HookRecorder hooks;
        hooks.confirmAnswer = answer;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        rig.frm->RxDGCommon->SetCurrent(4, 2);
        rig.frm->PlaceEditor(2, 4);
        QVERIFY(!rig.frm->WriteValueEdit->isHidden());
        rig.frm->WriteValueEdit->SetValue(55);
        const int writes = rig.Count(kWrite);
        QTest::keyClick(rig.frm->WriteValueEdit, Qt::Key_Up);  // other keys edit as usual
        QCOMPARE(hooks.confirms, 0);
        QTest::keyClick(rig.frm->WriteValueEdit, Qt::Key_Return);
        QCOMPARE(hooks.confirms, 1);
        QCOMPARE(hooks.confirmText, U("Вы действительно хотите записать параметр"));
        QCOMPARE(hooks.confirmCaption, U("Подтверждение записи"));
        QCOMPARE(rig.Count(kWrite), writes + (answer ? 1 : 0));
        if (answer) QCOMPARE(LastWrittenValue(rig.port), qint64(65));  // Up steps by StepDisplay, 10
    }

    // Typed in the Russian locale: "." and "," are both the decimal
    // separator; a refused text is named in panel 0 and nothing is asked.
    void Enter_TypedNumber_ReadOrNamed_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("written");  // -1: nothing sent
        QTest::addColumn<QString>("message");
        const QString done = U(texts::kWriteDone);
        QTest::newRow("1.25") << "1.25" << qint64(125) << done;
        QTest::newRow("1,25") << "1,25" << qint64(125) << done;
        QTest::newRow("grouped") << "1 000" << qint64(-1) << U(params::kNumberGrouped);
        QTest::newRow("two separators") << "1.2,5" << qint64(-1) << U(params::kNumberTwoSeparators);
        QTest::newRow("three decimals") << "1.255" << qint64(-1) << U(params::kNumberTooManyDecimals);
    }
    void Enter_TypedNumber_ReadOrNamed() {
        QFETCH(QString, typed);
        QFETCH(qint64, written);
        QFETCH(QString, message);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.dispenser.tables[1].fields[0].high = 100000;
        rig.Open();
        ParamList->Item(0)->Decimals = 2;
        rig.frm->RxDGCommon->SetCurrent(4, 1);
        rig.frm->PlaceEditor(1, 4);
        TRxSpinEdit* edit = rig.frm->WriteValueEdit;
        edit->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        const int writes = rig.Count(kWrite);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(rig.frm->StatusPanel0->text(), message);
        QCOMPARE(hooks.confirms, written < 0 ? 0 : 1);
        QCOMPARE(rig.Count(kWrite), writes + (written < 0 ? 0 : 1));
        if (written >= 0) QCOMPARE(LastWrittenValue(rig.port), written);
        if (written < 0) QCOMPARE(edit->text(), typed);  // kept as typed
    }

    // Enter on a focused button presses that button and writes nothing.
    void Enter_OnAFocusedButton_PressesIt() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.Open();
        QSignalSpy pressed(rig.frm->Button1, &QPushButton::clicked);
        QTest::keyClick(rig.frm->Button1, Qt::Key_Return);
        QCOMPARE(pressed.count(), 1);
        QVERIFY(rig.WaitPass());
        QTest::keyClick(rig.frm->BitBtn1, Qt::Key_Enter);
        QVERIFY(!rig.frm->isVisible());
        QCOMPARE(hooks.confirms, 0);
        QCOMPARE(rig.Count(kWrite), 0);
    }

    void DoubleClick_ReadsOnlyAReadCell_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("reads");
        QTest::newRow("read cell") << 3 << 1 << true;
        QTest::newRow("header row") << 3 << 0 << false;
        QTest::newRow("write cell") << 4 << 1 << false;
        QTest::newRow("name cell") << 1 << 1 << false;
    }
    void DoubleClick_ReadsOnlyAReadCell() {
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(bool, reads);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        rig.dispenser.values[FakeDispenser::Key(1, 1, 1)] = 777;
        const int before = rig.Count(kRead);
        const QPoint centre = rig.frm->RxDGCommon->CellRect(column, row).toQRect().center();
        QTest::mouseDClick(rig.frm->RxDGCommon->viewport(), Qt::LeftButton, {}, centre);
        QCOMPARE(rig.Count(kRead), before + (reads ? 1 : 0));
        QCOMPARE(ParamList->Item(0)->Value, reads ? 777 : 101);
        QCOMPARE(ParamList->Item(0)->ReadText, ParamList->Item(0)->ValueText(reads ? 777 : 101));
    }

    void Hints_OverReadAndWriteCellsOfDataRows_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("hint");
        QTest::newRow("read cell") << 3 << 1 << U(texts::kHintRead);
        QTest::newRow("write cell") << 4 << 2 << U(texts::kHintWrite);
        QTest::newRow("header write cell") << 4 << 0 << QString();
        QTest::newRow("limits cell") << 2 << 1 << QString();
    }
    void Hints_OverReadAndWriteCellsOfDataRows() {
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(QString, hint);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        rig.frm->RxDGCommon->Hint = QStringLiteral("stale");
        rig.frm->RxDGCommonMouseMove(rig.frm->RxDGCommon->CellRect(column, row).toQRect().center());
        QCOMPARE(rig.frm->RxDGCommon->Hint, hint);
    }

    void Editors_ChosenByKindAndPlacedOverTheWriteCell_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("shown");  // e: edit, 2: both edits, c: list, -: none
        QTest::newRow("kind 0") << 0 << 4 << "e";
        QTest::newRow("kind 2") << 2 << 4 << "2";
        QTest::newRow("kind 4") << 4 << 4 << "c";
        QTest::newRow("kind 9") << 9 << 4 << "-";
        QTest::newRow("kind 10") << 10 << 4 << "-";
        QTest::newRow("kind 0, read column") << 0 << 3 << "-";
    }
    void Editors_ChosenByKindAndPlacedOverTheWriteCell() {
        QFETCH(int, kind);
        QFETCH(int, column);
        QFETCH(QString, shown);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        ParamList->Item(0)->Kind = static_cast<params::TParamKind>(kind);
        ParamList->Item(0)->Choices = {"A", "B"};
        rig.frm->RxDGCommon->SetCurrent(column, 1);
        QTRY_VERIFY(!rig.frm->Timer2->isActive());  // placed 50 ms after the selection
        QCOMPARE(!rig.frm->WriteValueEdit->isHidden(), shown == "e" || shown == "2");
        QCOMPARE(!rig.frm->WriteValueEdit2->isHidden(), shown == "2");
        QCOMPARE(!rig.frm->WriteValueCB->isHidden(), shown == "c");
        if (shown == "-") return;
        QCOMPARE(rig.frm->WriteValueEdit->parentWidget(), rig.frm->TabControl1);
        // Bounds: the write cell in the tab control's coordinates, inset.
        TRect cell = rig.frm->RxDGCommon->CellRect(4, 1);
        const QPoint offset = rig.frm->RxDGCommon->viewport()->mapTo(rig.frm->TabControl1, QPoint(0, 0));
        cell = {cell.left + offset.x(), cell.top + offset.y(), cell.right + offset.x(), cell.bottom + offset.y()};
        const TRect expected = EditorRect(cell);
        if (shown == "2") {
            const TEditorPair pair = SplitEditorPair(expected);
            QCOMPARE(TRect::From(rig.frm->WriteValueEdit->geometry()), pair.first);
            QCOMPARE(TRect::From(rig.frm->WriteValueEdit2->geometry()), pair.second);
        } else {
            QWidget* editor = shown == "c" ? static_cast<QWidget*>(rig.frm->WriteValueCB) : rig.frm->WriteValueEdit;
            QCOMPARE(TRect::From(editor->geometry()), expected);
        }
    }

    void PairEditors_FocusMovesBetweenThemKeepBoth() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        rig.frm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frm.get()));
        ParamList->Item(0)->Kind = params::pkFlowPair;
        rig.frm->RxDGCommon->setFocus();
        rig.frm->PlaceEditor(1, 4);
        QTRY_VERIFY(rig.frm->WriteValueEdit->hasFocus());
        rig.frm->WriteValueEdit2->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(rig.frm->WriteValueEdit2->hasFocus());
        QVERIFY(!rig.frm->WriteValueEdit->isHidden());
        QVERIFY(!rig.frm->WriteValueEdit2->isHidden());
        rig.frm->WriteValueEdit->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(rig.frm->WriteValueEdit->hasFocus());
        QVERIFY(!rig.frm->WriteValueEdit2->isHidden());
        rig.frm->ComPortEdit->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(rig.frm->WriteValueEdit->isHidden());
        QVERIFY(rig.frm->WriteValueEdit2->isHidden());
    }

    void CalcKoef_StartsAPassAfterTheDialog_OrReportsItsError() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        AddTable(rig.dispenser, 2, "Юстировка", 1, 2);
        rig.Open();
        QVERIFY(!rig.frm->CalcKoef->isVisibleTo(rig.frm.get()));
        rig.frm->TabControl1->Tabs->setCurrentIndex(1);
        QVERIFY(rig.WaitPass());
        QVERIFY(rig.frm->CalcKoef->isVisibleTo(rig.frm.get()));
        const int reads = rig.Count(kRead);
        rig.frm->CalcKoef->click();
        QCOMPARE(hooks.calibrations, 1);
        QVERIFY(!rig.frm->Button1->isEnabled());
        QVERIFY(rig.WaitPass());
        QCOMPARE(rig.Count(kRead), reads + 2);

        hooks.calibrationThrows = true;
        rig.frm->CalcKoef->click();
        QCOMPARE(hooks.errors, QStringList(U("Невозможно выполнить запрос состояния ТРК")));
        QVERIFY(rig.frm->Button1->isEnabled());
    }

    void Form_ControlsCarryTheirNamesAndPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("ComPortEdit") << "ComPortEdit" << QRect(96, 8, 89, 22);
        QTest::newRow("AddrEdit") << "AddrEdit" << QRect(272, 8, 89, 22);
        QTest::newRow("RowLabel") << "RowLabel" << QRect(388, 8, 86, 24);
        QTest::newRow("RowEdit") << "RowEdit" << QRect(480, 8, 65, 22);
        QTest::newRow("Button1") << "Button1" << QRect(8, 49, 233, 25);
        QTest::newRow("CalcKoef") << "CalcKoef" << QRect(400, 64, 241, 25);
        QTest::newRow("BitBtn1") << "BitBtn1" << QRect(680, 64, 121, 25);
        QTest::newRow("TabControl1") << "TabControl1" << QRect(1, 80, 815, 596);
        QTest::newRow("RxDGCommon") << "RxDGCommon" << QRect(4, 24, 807, 568);
        QTest::newRow("WriteValueEdit") << "WriteValueEdit" << QRect(96, 42, 121, 21);
        QTest::newRow("WriteValueEdit2") << "WriteValueEdit2" << QRect(224, 42, 121, 21);
        QTest::newRow("WriteValueCB") << "WriteValueCB" << QRect(96, 42, 717, 21);
    }

    void Form_ControlsCarryTheirNamesAndPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        WindowRig rig;
        QCOMPARE(rig.frm->objectName(), QStringLiteral("ParamFrm"));
        auto* widget = rig.frm->findChild<QWidget*>(name);
        QVERIFY2(widget != nullptr, qPrintable(name));
        QCOMPARE(widget->geometry(), geometry);
        for (const char* other : {"Panel1", "Label1", "Label3", "ListView", "Panel2", "StatusBar1"})
            QVERIFY2(rig.frm->findChild<QWidget*>(QString::fromLatin1(other)) != nullptr, other);
        for (const char* other : {"ActionExit", "Timer1", "Timer2", "OprosFonTimer"})
            QVERIFY2(rig.frm->findChild<QObject*>(QString::fromLatin1(other)) != nullptr, other);
    }

    void ActionExit_AltXAndEsc_CloseTheWindow() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.Open();
        const auto keys = rig.frm->ActionExit->shortcuts();
        QVERIFY(keys.contains(QKeySequence(Qt::ALT | Qt::Key_X)));
        QVERIFY(keys.contains(QKeySequence(Qt::Key_Escape)));
        QVERIFY(rig.frm->ListView->count() > 0);
        rig.frm->ActionExit->trigger();
        QVERIFY(rig.frm->isHidden());
        QCOMPARE(rig.frm->ListView->count(), 0);
        QVERIFY(ParamList != nullptr);  // lives on across showings
    }

    // A pass racing the operator's double-click reads and page changes: the
    // driver is never used by two threads at once and nothing hangs.
    void Pass_RacingReadsAndPageChanges_NeverOverlapsNorHangs() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Первая", 2, 10);
        AddTable(rig.dispenser, 2, "Вторая", 2, 6);
        rig.frm->RowHeightPause = 1;
        rig.Open();
        rig.sleepMs = 1;
        for (int round = 0; round < 6; ++round) {
            rig.frm->Button1Click();
            rig.frm->RowEditChange();  // a second start while one runs
            for (int i = 0; i < 5; ++i) {
                const int tab = rig.frm->TabControl1->TabIndex();
                const int firstRow = tab == 0 ? 1 : 11;
                const QPoint centre = rig.frm->RxDGCommon->CellRect(3, firstRow + i).toQRect().center();
                QTest::mouseDClick(rig.frm->RxDGCommon->viewport(), Qt::LeftButton, {}, centre);
                QTest::qWait(3);
            }
            rig.frm->TabControl1->Tabs->setCurrentIndex(1 - rig.frm->TabControl1->TabIndex());
        }
        QVERIFY(rig.WaitPass(20000));
        QVERIFY(!rig.overlapped.load());
        QCOMPARE(ParamList->Count(), 16);
        QVERIFY(hooks.errors.isEmpty());
    }

    // Enter on the grid means nothing: no button of the window is a default
    // button, so it does not start a read-all pass.
    void Enter_OnTheGrid_StartsNoPass() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 3);
        rig.Open();
        rig.frm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frm.get()));
        for (QPushButton* button : rig.frm->findChildren<QPushButton*>()) {
            QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
            QVERIFY2(!button->autoDefault(), qPrintable(button->objectName()));
        }
        rig.frm->RxDGCommon->setFocus();
        QTRY_VERIFY(rig.frm->RxDGCommon->hasFocus());
        const int reads = rig.Count(kRead);
        QTest::keyClick(rig.frm->RxDGCommon, Qt::Key_Return);
        QTest::keyClick(rig.frm->RxDGCommon, Qt::Key_Enter);
        QVERIFY(rig.frm->Button1->isEnabled());
        QTest::qWait(100);
        QCOMPARE(rig.Count(kRead), reads);
        QCOMPARE(hooks.confirms, 0);
    }

    // A column dragged across many mouse steps recomputes the row heights
    // once, when the drag ends.
    void ColumnDrag_RowHeightsOncePerFinishedResize() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 6);
        rig.frm->RowHeightPause = 1;
        rig.Open();
        QSignalSpy runs(rig.frm.get(), &TParamFrm::RowHeightsUpdated);
        QWidget* viewport = rig.frm->RxDGCommon->viewport();
        const TRect header = rig.frm->RxDGCommon->CellRect(1, 0);
        const QPoint edge(header.right - 1, (header.top + header.bottom) / 2);
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(viewport, &event);
        };
        send(QEvent::MouseButtonPress, edge, Qt::LeftButton);
        for (int step = 1; step <= 20; ++step) send(QEvent::MouseMove, edge - QPoint(5 * step, 0), Qt::LeftButton);
        QCOMPARE(rig.frm->RxDGCommon->ColWidth(1), 422 - 100);
        QCOMPARE(runs.size(), 0);
        send(QEvent::MouseButtonRelease, edge - QPoint(100, 0), Qt::NoButton);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.at(0).at(0).toInt(), 0);
    }

    // Calls that come while the row heights are being computed (it serves
    // pending events) never nest: they make one more run after it.
    void RowHeights_CallsDuringARunAreCoalesced() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 6);
        rig.frm->RowHeightPause = 1;
        rig.Open();
        QSignalSpy runs(rig.frm.get(), &TParamFrm::RowHeightsUpdated);
        int depth = 0, deepest = 0;
        connect(rig.frm.get(), &TParamFrm::RowHeightsUpdated, this, [&] { deepest = std::max(deepest, depth); });
        for (int i = 0; i < 5; ++i)
            QTimer::singleShot(0, rig.frm.get(), [&] {
                ++depth;
                rig.frm->RxDGCommonColumnSized();
                --depth;
            });
        rig.frm->UpdateRowHeights(0);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(deepest, 0);  // no run finished inside a queued call
    }

    // Every caption of the window is drawn whole at the form's geometry, in
    // the font it is drawn with, and that font is really installed.
    void Captions_FitTheirControls() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 65535, 1);  // the widest row range
        rig.Open();
        rig.frm->CalcKoef->setVisible(true);
        QStringList problems;
        const auto check = [&](QWidget* w, const QString& text, bool fits) {
            const QFontInfo actual(w->font());
            if (actual.family() != w->font().family())
                problems << QStringLiteral("%1: font %2 drawn as %3")
                                .arg(w->objectName(), w->font().family(), actual.family());
            if (!fits)
                problems << QStringLiteral("%1: \"%2\" does not fit %3").arg(w->objectName(), text).arg(w->width());
        };
        for (QAbstractButton* b : rig.frm->findChildren<QAbstractButton*>())
            if (!b->text().isEmpty()) check(b, b->text(), b->sizeHint().width() <= b->width());
        for (QLabel* l : {rig.frm->Label1, rig.frm->Label3}) check(l, l->text(), l->sizeHint().width() <= l->width());
        check(rig.frm->RowLabel, rig.frm->RowLabel->text(),
              rig.frm->RowLabel->heightForWidth(rig.frm->RowLabel->width()) <= rig.frm->RowLabel->height());
        // The auto-sized labels end before the spin edit to their right.
        QVERIFY(rig.frm->Label1->geometry().right() < rig.frm->ComPortEdit->x());
        QVERIFY(rig.frm->Label3->geometry().right() < rig.frm->AddrEdit->x());
        // Header captions within their columns (2 pixels of inset each side).
        const QFontMetrics grid(rig.frm->RxDGCommon->font());
        for (int c = 0; c < 5; ++c) {
            const QString header = U(texts::kHeaders[c]);
            check(rig.frm->RxDGCommon, header, grid.horizontalAdvance(header) + 4 <= rig.frm->RxDGCommon->ColWidth(c));
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    }

    // A new line, address or row forgets what was read: when the pass for
    // the new selection is cut short, no row shows a value of the old one.
    void Selection_Changed_ValuesOfTheOldOneNeverShow() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 4);
        rig.Open();
        QCOMPARE(ParamList->Item(3)->Value, 104);
        // Address 2's first read fails at the transport: the pass ends there.
        ScriptedReply broken;
        broken.waitCode = kFakeTransportError;
        rig.port.script.push_back(broken);
        rig.frm->AddrEdit->setValue(2);
        QVERIFY(rig.WaitPass());
        QCOMPARE(hooks.beeps, 1);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(ParamList->Item(i)->ReadText, std::string());
            QCOMPARE(ParamList->Item(i)->Value, 0);
        }
    }

    // A pass whose read comes back after the operator chose another row
    // leaves that value out of the grid.
    void Selection_ChangedDuringARead_ItsValueIsDropped() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 3, 3);
        rig.Open();
        // While row 1's first value is being read, the operator picks row 2;
        // the read goes on only once the GUI thread has made the change.
        std::mutex mutex;
        std::condition_variable changedSignal;
        std::atomic<bool> reading{false};
        bool changed = false;
        rig.gate = [&](std::uint8_t command, const std::uint8_t* frame) {
            if (command == kRead && frame[6] == 1 && frame[8] == 1 && !reading.exchange(true)) {
                std::unique_lock lock(mutex);
                changedSignal.wait(lock, [&] { return changed; });
            }
            return true;
        };
        rig.frm->Button1Click();
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 10000));
        rig.frm->RowEdit->setValue(2);
        {
            std::lock_guard lock(mutex);
            changed = true;
        }
        changedSignal.notify_all();
        QVERIFY(rig.WaitPass());
        for (int i = 0; i < 3; ++i) QCOMPARE(ParamList->Item(i)->Value, 200 + i + 1);
    }

    // A table description that never comes back leaves an empty page: the
    // status bar says the reading failed instead of that it was completed.
    void TableDescriptionFails_StatusSaysSo() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 3);
        rig.gate = [](std::uint8_t command, const std::uint8_t*) { return command != 0x2D; };
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.Open();
        QCOMPARE(ParamList->Count(), 0);
        QCOMPARE(Texts(progress), QStringList(U("Невозможно выполнить запрос состояния ТРК")));
        QCOMPARE(rig.frm->StatusColour, kColourRed);
        QVERIFY(rig.frm->Button1->isEnabled());
    }

    // Values and limits are the unsigned numbers of the field: 2^31 and more
    // in a 4-byte field are shown (and the pass goes past them); inverted
    // limits show the value held and let every value of the width be entered.
    void FieldValues_ShownAsTheDispenserHoldsThem() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 3);
        auto& fields = rig.dispenser.tables[1].fields;
        fields[0] = {"A", 0, 4, 0, 0xFFFFFFFF};
        fields[1] = {"B", 1, 1, 0xD8, 100};  // described as -40..100 by a signed dispenser
        fields[2] = {"C", 2, 2, 0x8000, 0x7FFF};
        rig.dispenser.values[FakeDispenser::Key(1, 1, 1)] = 3000000000u;
        rig.dispenser.values[FakeDispenser::Key(1, 1, 2)] = 7;
        rig.dispenser.values[FakeDispenser::Key(1, 1, 3)] = 0xFF9C;
        QSignalSpy progress(rig.frm.get(), &TParamFrm::SimpleTextChanged);
        rig.Open();
        QCOMPARE(Texts(progress), Progress(0, 2));
        QCOMPARE(ParamList->Item(0)->ReadText, std::string("3000000000"));
        QCOMPARE(rig.frm->LimitsText(1), std::string("от 0 до 4294967295 "));
        QCOMPARE(ParamList->Item(1)->ReadText, std::string("7"));
        // Low limit above the high one: a signed field, shown and edited signed.
        QCOMPARE(rig.frm->LimitsText(2), std::string("от -40 до 100 "));
        rig.frm->ChooseEditor(2);
        QCOMPARE(rig.frm->WriteValueEdit->minimum(), -40.0);
        QCOMPARE(rig.frm->WriteValueEdit->maximum(), 100.0);
        QCOMPARE(rig.frm->WriteValueEdit->value(), 7.0);
        QCOMPARE(ParamList->Item(2)->ReadText, std::string("-100"));
        QCOMPARE(rig.frm->WriteCellText(3), std::string("-100"));
        QCOMPARE(rig.frm->LimitsText(3), std::string("от -32768 до 32767 "));
        rig.frm->ChooseEditor(3);
        QCOMPARE(rig.frm->WriteValueEdit->value(), -100.0);
        // The wire keeps the field's two's complement: -5 is 0xFFFB.
        rig.frm->WriteValueEdit->SetValue(-5);
        rig.frm->WriteRow(3);
        QCOMPARE(rig.dispenser.values[FakeDispenser::Key(1, 1, 3)], 0xFFFBu);
        QCOMPARE(ParamList->Item(2)->ReadText, std::string("-5"));
        // A field with sane limits keeps its range.
        rig.frm->ChooseEditor(1);
        QCOMPARE(rig.frm->WriteValueEdit->maximum(), 4294967295.0);
    }

    // Rows not read (a dead line) show no value and open no editor; once
    // read they do.
    void NotRead_ShowsEmptyAndOpensNoEditor() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        bool dead = true;
        rig.gate = [&](std::uint8_t command, const std::uint8_t*) { return !(dead && command == kRead); };
        rig.Open();
        for (int row : {1, 2}) {
            QCOMPARE(ParamList->Item(row - 1)->ReadText, std::string(texts::kLinkError));
            QCOMPARE(rig.frm->WriteCellText(row), std::string());
            rig.frm->RxDGCommon->SetCurrent(4, row);
            rig.frm->PlaceEditor(row, 4);
            QVERIFY(rig.frm->WriteValueEdit->isHidden());
        }
        dead = false;
        rig.frm->Button1Click();
        QVERIFY(rig.WaitPass());
        QCOMPARE(rig.frm->WriteCellText(2), std::string("102"));
        rig.frm->PlaceEditor(2, 4);
        QVERIFY(!rig.frm->WriteValueEdit->isHidden());
        QCOMPARE(rig.frm->WriteValueEdit->value(), 102.0);
    }

    // The editors never hand the driver a value the field cannot hold: the
    // write is refused and nothing is sent. (NaN never gets into a spin edit;
    // the descriptor's own tests refuse it.)
    void WriteRow_ValueTheFieldCannotHold_NothingSent_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("first");
        QTest::addColumn<QString>("message");
        QTest::newRow("pair 12005 in 1 byte") << 2 << 1 << 12.0 << U(texts::kDoesNotFit);
        QTest::newRow("temperature -5 (205) fits 1 byte") << 3 << 1 << -5.0 << U(texts::kWriteDone);
        QTest::newRow("width 0") << 0 << 0 << 1.0 << U(texts::kDoesNotFit);
    }
    void WriteRow_ValueTheFieldCannotHold_NothingSent() {
        QFETCH(int, kind);
        QFETCH(int, width);
        QFETCH(double, first);
        QFETCH(QString, message);
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 1);
        rig.dispenser.tables[1].fields[0] = {"F", 0, static_cast<std::uint8_t>(width), 0, 255};
        rig.Open();
        CParameter* p = ParamList->Item(0);
        p->Kind = static_cast<params::TParamKind>(kind);
        rig.frm->ChooseEditor(1);
        rig.frm->WriteValueEdit->SetValue(first);
        rig.frm->WriteValueEdit2->SetValue(5);
        const int writes = rig.Count(kWrite), fields = rig.Count(kField);
        rig.frm->WriteRow(1);
        QCOMPARE(rig.frm->StatusPanel0->text(), message);
        if (message == U(texts::kWriteDone)) {
            QCOMPARE(rig.Count(kWrite), writes + 1);
            return;
        }
        QCOMPARE(rig.Count(kWrite), writes);
        QCOMPARE(rig.Count(kField), fields);
        QCOMPARE(rig.frm->StatusColour, kColourRed);
    }

    // Renders the window with real rows to a PNG for a look by eye.
    // Every name of the simulator's tables fits its row at name-column widths
    // from 60 to 300 pixels. The drawn rectangle comes from the pixels (the
    // name cell's green background in a grab of the grid); the height a name
    // needs from a text layout of its own, wrapped inside the 2-pixel insets.
    void RowHeights_SimulatorNamesFitTheirRowsAtAnyWidth() {
        HookRecorder hooks;
        WindowRig rig;
        for (const auto& [number, builtIn] : sim::DefaultTables(2)) {
            FakeTable table{cp1251::FromUtf8(builtIn.name), builtIn.rows, {}};
            for (const auto& f : builtIn.fields)
                table.fields.push_back({cp1251::FromUtf8(f.name), f.type, f.width, f.low, f.high});
            rig.dispenser.tables[number] = table;
        }
        rig.frm->RowHeightPause = 0;
        rig.Open();
        TRxDrawGrid* grid = rig.frm->RxDGCommon;
        QStringList clipped;
        int checked = 0;
        for (int page : {0, 1, 2}) {
            rig.frm->TabControl1->Tabs->setCurrentIndex(page);
            QVERIFY(rig.WaitPass());
            for (int width = 60; width <= 300; width += 3) {
                grid->SetColWidth(1, width);
                rig.frm->RxDGCommonColumnSized();
                // One grab for every row wholly in view, scrolled on as needed.
                QImage image;
                for (int r = 1; r < grid->RowCount(); ++r) {
                    if (grid->RowHeight(r) <= 0) continue;
                    if (image.isNull() || grid->CellRect(1, r).bottom > grid->viewport()->height()) {
                        grid->scrollTo(grid->model()->index(r, 1), QAbstractItemView::PositionAtTop);
                        image = grid->viewport()->grab().toImage();
                    }
                    if (!NameFitsItsRow(*rig.frm, r, image))
                        clipped << QStringLiteral("%1 at %2 px")
                                       .arg(QString::fromStdString(rig.frm->NameText(r)))
                                       .arg(width);
                    ++checked;
                }
            }
        }
        QVERIFY(checked > 1000);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    }

    // An open editor moves with its cell when a column is resized.
    void ColumnResize_OpenEditorFollowsItsCell() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        rig.Open();
        rig.frm->RxDGCommon->SetCurrent(4, 1);
        rig.frm->PlaceEditor(1, 4);
        rig.frm->RxDGCommon->SetColWidth(1, 150);
        rig.frm->RxDGCommonColumnSized();
        const TRect cell = rig.frm->RxDGCommon->CellRect(4, 1);
        const QPoint cellLeft = rig.frm->TabControl1->mapFromGlobal(
            rig.frm->RxDGCommon->viewport()->mapToGlobal(QPoint(cell.left, cell.top)));
        QVERIFY(!rig.frm->WriteValueEdit->isHidden());
        QCOMPARE(rig.frm->WriteValueEdit->x(), cellLeft.x() + 5);
    }

    // Each status text belongs to the operation now running: a write's
    // outcome does not stand beside the pass's "завершено", and a page load
    // starts with neither.
    void StatusTexts_BelongToTheOperationNowRunning() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "T", 1, 2);
        AddTable(rig.dispenser, 2, "U", 1, 2);
        rig.Open();
        QCOMPARE(rig.frm->StatusSimple->text(), U(texts::kReadingDone));
        rig.frm->ChooseEditor(1);
        rig.frm->WriteRow(1);
        QCOMPARE(rig.frm->StatusPanel0->text(), U(texts::kWriteDone));
        QCOMPARE(rig.frm->StatusSimple->text(), QString());
        QStringList atTableRequest, captionAtFields;
        rig.gate = [&](std::uint8_t command, const std::uint8_t*) {
            if (command == protocol::kCmdTableInfo)
                atTableRequest << rig.frm->StatusPanel0->text() + rig.frm->StatusSimple->text();
            // The tab is renamed only once all its fields are read.
            if (command == protocol::kCmdFieldInfo) captionAtFields << rig.frm->TabControl1->Tabs->tabText(1);
            return true;
        };
        rig.frm->StatusSimple->setText(U(texts::kReadingDone));
        rig.frm->TabControl1->Tabs->setCurrentIndex(1);
        QVERIFY(rig.WaitPass());
        QCOMPARE(atTableRequest, QStringList{QString()});
        QCOMPARE(captionAtFields, (QStringList{U("Таблица 2"), U("Таблица 2")}));
        QCOMPARE(rig.frm->TabControl1->Tabs->tabText(1), U("U"));
        QCOMPARE(rig.frm->StatusSimple->text(), U(texts::kReadingDone));
    }

    void Render_WindowWithRows_SavesPng() {
        HookRecorder hooks;
        WindowRig rig;
        AddTable(rig.dispenser, 1, "Общие параметры ТРК", 3, 6);
        auto& fields = rig.dispenser.tables[1].fields;
        const char* names[6] = {
            "Количество рукавов",   "Время ожидания снятия пистолета",
            "Порог расхода",        "Температура отключения датчика",
            "Режим работы клапана", "Минимальная доза отпуска топлива при работе в автоматическом режиме"};
        for (int i = 0; i < 6; ++i) fields[i].name = cp1251::FromUtf8(names[i]);
        rig.Open();
        ParamList->Item(3)->Kind = params::pkTemperature;
        ParamList->Item(4)->Kind = params::pkChoiceList;
        ParamList->Item(4)->Choices = {"закрыт", "открыт", "авто"};
        ParamList->Item(1)->Units = "с";
        rig.frm->TabControl1Change();
        QVERIFY(rig.WaitPass());
        rig.frm->RxDGCommon->SetCurrent(4, 2);
        QTRY_VERIFY(!rig.frm->Timer2->isActive());
        const QImage image = rig.frm->grab().toImage();
        QCOMPARE(image.size(), QSize(817, 696));
        const QString dir = qEnvironmentVariable("ZARVIK_PNG_DIR", QDir::currentPath());
        QVERIFY(image.save(dir + QStringLiteral("/param-window.png")));
    }
};

QTEST_MAIN(ParamFrameTest)
#include "ParamFrameTest.moc"
