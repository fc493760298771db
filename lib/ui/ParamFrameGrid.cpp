// The grid's cells, row heights, hints, double click and the in-place
// editors. All on the GUI thread.
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QSpinBox>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <cctype>
#include <utility>

#include "ParamFrameTexts.h"
#include "ShownValue.h"
#include "params/NumberText.h"
#include "params/ParameterUnit.h"
#include "ui/ParamFrame.h"

namespace zarvik {

namespace {

const QColor kNameBackground(0xC0, 0xDC, 0xC0);
constexpr int kTextInset = 2;

// Line breaks are "\r\n" in the texts; Qt breaks on "\n" alone.
QString ForDrawing(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.remove(QLatin1Char('\r'));
    return s;
}

void DrawStr(QPainter& painter, const TRect& rect, const QString& text, Qt::Alignment align) {
    painter.drawText(rect.toQRect().adjusted(kTextInset, 0, -kTextInset, 0),
                     align | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

constexpr int kWrapFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

// Where word-wrapped text goes in a cell: inside the insets on every side.
QRect WrapArea(const QRect& cell) { return cell.adjusted(kTextInset, kTextInset, -kTextInset, -kTextInset); }

void DrawMultiline(QPainter& painter, const TRect& rect, const QString& text) {
    painter.drawText(WrapArea(rect.toQRect()), kWrapFlags, text);
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string TParamFrm::NameText(int row) const {
    const CParameter* p = ParamList->Item(row - 1);
    std::string t = p->Name;
    if (!p->Units.empty()) t = t + " (" + p->Units + ")";
    if (!p->Choices.empty()) {
        std::string s = ":\r\n";
        for (std::size_t i = 0; i < p->Choices.size(); ++i) {
            s += "  " + p->Choices[i];
            if (i + 1 < p->Choices.size()) s += ";\r\n";
        }
        std::size_t first = 0, last = s.size();
        while (first < last && IsBlankOrControl(s[first])) ++first;
        while (last > first && IsBlankOrControl(s[last - 1])) --last;
        t += s.substr(first, last - first);
    }
    return t;
}

std::string TParamFrm::LimitsText(int row) const {
    using namespace params;
    const CParameter* p = ParamList->Item(row - 1);
    switch (p->Kind) {
        case pkScaled:
        case pkPlain:
        case pkPlainToo:
        case pkReciprocal:
            return "от " + FormatNumber(shown::LowLimit(*p), p->Digits, p->Decimals) + " до " +
                   FormatNumber(shown::HighLimit(*p), p->Digits, p->Decimals) + " " + p->Units;
        case pkFlowPair:
            return texts::kLimitsPair;
        case pkTemperature:
        case pkSensorSetting:
            return texts::kLimitsTemperature;
        case pkColdTemperature:
            return texts::kLimitsCold;
        default:
            return texts::kLimitsList;
    }
}

void TParamFrm::DrawValueBox(QPainter& painter, const TRect& rect, const QString& text) {
    const TValueBox box = ValueBoxRects(rect);
    if (!box.visible) return;
    painter.save();
    painter.setClipRect(box.text.toQRect());
    painter.drawText(box.text.toQRect(), Qt::AlignLeft | Qt::AlignTop, text);
    painter.restore();
    painter.save();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    // The outline covers left..right-1 and top..bottom-1.
    const TRect& f = box.frame;
    painter.drawRect(QRect(f.left, f.top, f.right - f.left - 1, f.bottom - f.top - 1));
    painter.restore();
}

void TParamFrm::RxDGCommonDrawCell(int column, int row, const TRect& rect, QPainter& painter) {
    if (row == 0) {
        if (column < 0 || column > 4) return;
        DrawStr(painter, rect, QString::fromUtf8(texts::kHeaders[column]),
                column == 0 ? Qt::AlignHCenter : Qt::AlignLeft);
        return;
    }
    if (!ParamList || row - 1 >= ParamList->Count()) return;
    const CParameter* p = ParamList->Item(row - 1);
    switch (column) {
        case 0:
            DrawStr(painter, rect, QString::number(p->ParamNo), Qt::AlignHCenter);
            break;
        case 1:
            painter.fillRect(rect.toQRect(), kNameBackground);
            painter.setPen(Qt::black);
            DrawMultiline(painter, rect, ForDrawing(NameText(row)));
            break;
        case 2:
            DrawMultiline(painter, rect, ForDrawing(LimitsText(row)));
            break;
        case 3:
            DrawValueBox(painter, rect, QString::fromStdString(p->ReadText));
            break;
        case 4:
            DrawValueBox(painter, rect, QString::fromStdString(WriteCellText(row)));
            break;
        default:
            break;
    }
}

std::string TParamFrm::WriteCellText(int row) const {
    const CParameter* p = ParamList->Item(row - 1);
    // A value never read shows nothing, not 0 or the minimum.
    if (!p->ValueRead) return std::string();
    try {
        return shown::ValueText(*p, p->Value);
    } catch (const std::exception&) {
        return std::string();  // a value the kind cannot show leaves the box empty
    }
}

int TParamFrm::CalcRowHeight(int row) const {
    const QFontMetrics metrics(RxDGCommon->font());
    // Measured in the rectangle the text is drawn in: the cell as the grid
    // draws it (the column less its grid line), inside the insets.
    const int gridLine = RxDGCommon->showGrid() ? 1 : 0;
    const auto measure = [&](int column, const std::string& text) {
        const QRect cell(0, 0, RxDGCommon->ColWidth(column) - gridLine, TRxDrawGrid::kDefaultRowHeight);
        return metrics.boundingRect(WrapArea(cell), kWrapFlags, ForDrawing(text)).height() + 5;
    };
    return std::max({measure(1, NameText(row)), measure(2, LimitsText(row)), 20});
}

// One run at a time: a call made while a run serves pending events (a column
// resize, a page load) is remembered and run once after it, for the page
// asked for last.
void TParamFrm::UpdateRowHeights(int page) {
    if (!GridFilled) return;
    if (rowHeightsBusy_) {
        rowHeightsAgain_ = page;
        return;
    }
    rowHeightsBusy_ = true;
    for (int run = page; run >= 0; run = std::exchange(rowHeightsAgain_, -1)) {
        for (int r = 1; r < RxDGCommon->RowCount(); ++r) {
            // Pending events may change the list; stop at its end.
            if (!ParamList || r - 1 >= ParamList->Count()) break;
            RxDGCommon->SetRowHeight(r, ParamList->Item(r - 1)->Page == run ? CalcRowHeight(r) : -1);
            if (r % 2 == 0) {
                QCoreApplication::processEvents();
                QThread::msleep(static_cast<unsigned long>(RowHeightPause));
            }
        }
        emit RowHeightsUpdated(run);
    }
    rowHeightsBusy_ = false;
}

void TParamFrm::RxDGCommonColumnSized() {
    UpdateRowHeights(TabControl1->TabIndex());
    // An open editor follows its cell to where the resize moved it.
    if (!WriteValueEdit->isHidden() || !WriteValueCB->isHidden()) PlaceEditor(RxDGCommon->Row(), RxDGCommon->Col());
}

void TParamFrm::RxDGCommonMouseMove(QPoint point) {
    int column = 0, row = 0;
    RxDGCommon->Hint.clear();
    if (RxDGCommon->MouseToCell(point, column, row) && row > 0) {
        if (column == 3) RxDGCommon->Hint = QString::fromUtf8(texts::kHintRead);
        if (column == 4) RxDGCommon->Hint = QString::fromUtf8(texts::kHintWrite);
    }
    RxDGCommon->setToolTip(RxDGCommon->Hint);
    if (RxDGCommon->Hint.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(RxDGCommon->viewport()->mapToGlobal(point), RxDGCommon->Hint, RxDGCommon);
}

void TParamFrm::RxDGCommonDblClick(QPoint point) {
    int column = 0, row = 0;
    if (!RxDGCommon->MouseToCell(point, column, row) || row <= 0 || column != 3) return;
    // No read between a page load's exchanges.
    if (!ParamList || row - 1 >= ParamList->Count() || pageLoading_) return;
    StatusSimple->clear();  // this read's outcome, not an earlier pass's text
    const std::string text = ReadRow(row);
    ParamList->Item(row - 1)->ReadText = text;
    RxDGCommon->viewport()->update();
}

void TParamFrm::RxDGCommonSelectCell(int, int) { Timer2->start(); }

void TParamFrm::Timer2Timer() {
    PlaceEditor(RxDGCommon->Row(), RxDGCommon->Col());
    Timer2->stop();
}

void TParamFrm::RxDGCommonEnter() {
    if (!ParamList || ParamList->Count() == 0) return;
    const int t = TabControl1->TabIndex();
    const int current = RxDGCommon->Row();
    if (current > 0 && current - 1 < ParamList->Count() && ParamList->Item(current - 1)->Page == t) return;
    for (int r = 1; r < RxDGCommon->RowCount() && r - 1 < ParamList->Count(); ++r) {
        if (ParamList->Item(r - 1)->Page == t) {
            RxDGCommon->SetCurrent(RxDGCommon->Col(), r);
            return;
        }
    }
}

void TParamFrm::ShowEditors(bool edit, bool edit2, bool list) {
    WriteValueEdit->setVisible(edit);
    WriteValueEdit2->setVisible(edit2);
    WriteValueCB->setVisible(list);
}

void TParamFrm::FillChoices(const CParameter& p, int index) {
    WriteValueCB->clear();
    for (const std::string& choice : p.Choices) WriteValueCB->addItem(QString::fromStdString(choice));
    WriteValueCB->setEnabled(WriteValueCB->count() > 0);
    if (WriteValueCB->count() > 0) WriteValueCB->setCurrentIndex(index);
}

// Kinds 0, 6, 8 and 11: a number between the descriptor's editor limits.
void TParamFrm::ChooseNumberEditor(const CParameter& p) {
    if (p.Decimals > 0) {
        WriteValueEdit->SetIntegerInput(false);
        WriteValueEdit->SetDecimals(p.Decimals);
    } else {
        WriteValueEdit->SetDecimals(0);
        WriteValueEdit->SetIntegerInput(true);
    }
    WriteValueEdit->SetIncrement(p.StepDisplay());
    WriteValueEdit->SetMinValue(shown::EditorMin(p));
    WriteValueEdit->SetMaxValue(shown::EditorMax(p));
    WriteValueEdit->SetValue(shown::ToDisplay(p, p.Value));
    ShowEditors(true, false, false);
}

namespace {

void IntegerEdit(TRxSpinEdit* edit, double min, double max) {
    edit->SetDecimals(0);
    edit->SetIntegerInput(true);
    edit->SetIncrement(1);
    edit->SetMinValue(min);
    edit->SetMaxValue(max);
}

}  // namespace

void TParamFrm::ChooseEditor(int row) {
    using namespace params;
    if (!ParamList || ParamList->Count() == 0) return;
    if (row < 1 || row > ParamList->Count()) return;
    const CParameter& p = *ParamList->Item(row - 1);
    WriteValueEdit->SetValue(0);
    // No editor opens on a value that has not been read.
    if (!p.ValueRead) {
        ShowEditors(false, false, false);
        return;
    }
    switch (p.Kind) {
        case pkScaled:
        case pkPlain:
        case pkPlainToo:
        case pkReciprocal:
            ChooseNumberEditor(p);
            break;
        case pkTwoState:
        case pkChoiceList:
            FillChoices(p, static_cast<int>(NearestInteger(p.ToDisplay(p.Value))));
            ShowEditors(false, false, true);
            break;
        case pkFlowPair:
            for (TRxSpinEdit* edit : {WriteValueEdit, WriteValueEdit2}) {
                edit->SetValue(0);
                IntegerEdit(edit, 0, 999);
            }
            ShowEditors(true, true, false);
            break;
        case pkTemperature:
            WriteValueEdit->SetValue(p.ToDisplay(p.Value));
            IntegerEdit(WriteValueEdit, -99, 200);
            ShowEditors(true, false, false);
            break;
        case pkSensorSetting:
            WriteValueEdit->SetValue(p.ToDisplay(p.Value));
            FillChoices(p, 0);
            ShowEditors(false, false, true);
            break;
        case pkColdTemperature:
            WriteValueEdit->SetValue(0);
            IntegerEdit(WriteValueEdit, -20, 0);
            ShowEditors(true, false, false);
            break;
        default:
            ShowEditors(false, false, false);
            break;
    }
}

void TParamFrm::PlaceEditor(int row, int column) {
    if (row <= 0 || column != 4 || RxDGCommon->RowHeight(row) <= 0) {
        WriteValueCB->hide();
        WriteValueEdit->hide();
        WriteValueEdit2->hide();
        return;
    }
    for (QWidget* editor : {static_cast<QWidget*>(WriteValueCB), static_cast<QWidget*>(WriteValueEdit),
                            static_cast<QWidget*>(WriteValueEdit2)}) {
        if (editor->parentWidget() != TabControl1) editor->setParent(TabControl1);
    }
    ChooseEditor(row);

    const TRect cell = RxDGCommon->CellRect(column, row);
    QWidget* viewport = RxDGCommon->viewport();
    const QPoint topLeft = TabControl1->mapFromGlobal(viewport->mapToGlobal(QPoint(cell.left, cell.top)));
    const QPoint bottomRight = TabControl1->mapFromGlobal(viewport->mapToGlobal(QPoint(cell.right, cell.bottom)));
    PositionEditors(EditorRect({topLeft.x(), topLeft.y(), bottomRight.x(), bottomRight.y()}));
}

void TParamFrm::PositionEditors(const TRect& r) {
    if (!WriteValueCB->isHidden()) {
        WriteValueCB->setGeometry(r.toQRect());
        WriteValueCB->raise();
        WriteValueCB->setFocus();
    } else if (!WriteValueEdit->isHidden() && !WriteValueEdit2->isHidden()) {
        const TEditorPair pair = SplitEditorPair(r);
        WriteValueEdit->setGeometry(pair.first.toQRect());
        WriteValueEdit2->setGeometry(pair.second.toQRect());
        WriteValueEdit->raise();
        WriteValueEdit2->raise();
        WriteValueEdit->setFocus();
    } else if (!WriteValueEdit->isHidden()) {
        WriteValueEdit->setGeometry(r.toQRect());
        WriteValueEdit->raise();
        WriteValueEdit->setFocus();
    }
}

void TParamFrm::WriteValueEditExit() {
    if (!WriteValueCB->isHidden()) {
        WriteValueCB->hide();
    } else if (!WriteValueEdit->isHidden() && !WriteValueEdit2->isHidden()) {
        // Focus moving between the two halves of a pair keeps both.
        if (!WriteValueEdit->hasFocus() && !WriteValueEdit2->hasFocus()) {
            WriteValueEdit->hide();
            WriteValueEdit2->hide();
        }
    } else if (!WriteValueEdit->isHidden()) {
        WriteValueEdit->hide();
    }
}

bool TParamFrm::WriteValueEditKeyDown(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    // A typed text that is no number in range is named, not written.
    for (TRxSpinEdit* edit : {WriteValueEdit, WriteValueEdit2}) {
        const QString fault = edit->isHidden() ? QString() : edit->InputProblem();
        if (fault.isEmpty()) continue;
        SendColourMessage(kColourRed);
        SetPanelText(fault);
        Timer1->start();
        return true;
    }
    // No write between a page load's exchanges.
    if (pageLoading_) {
        if (ParamFrmHooks().Beep) ParamFrmHooks().Beep();
        return true;
    }
    const auto& confirm = ParamFrmHooks().Confirm;
    if (confirm && confirm(this, QString::fromUtf8(texts::kConfirmText), QString::fromUtf8(texts::kConfirmCaption)))
        WriteRow(RxDGCommon->Row());
    RxDGCommon->viewport()->update();
    return true;
}

bool TParamFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (WriteValueEditKeyDown(key->key())) return true;
    } else if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A drop-down opening or another window taking over is no exit.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) WriteValueEditExit();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zarvik
