// Reading one value, the read-all pass and writing (loading a page is in
// ParamFrameLoad.cpp).
//
// DriverLock is held exactly while the driver is used or ParamList changes
// shape; never while waiting for the GUI thread and never across
// UpdateRowHeights (which serves pending events). Value and ReadText of a
// descriptor are changed on the GUI thread only, so drawing needs no lock.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>
#include <memory>
#include <vector>

#include "ErrorText.h"
#include "ParamFrameTexts.h"
#include "ShownValue.h"
#include "driver/VM30.h"
#include "params/ParameterUnit.h"
#include "protocol/Cp1251.h"
#include "protocol/ParameterCode.h"
#include "timer/FonTimer.h"
#include "ui/ParamFrame.h"
#include "zarvik/exceptions.h"

namespace zarvik {

namespace {

std::int32_t ParameterCode(const CParameter& p, int row) {
    return protocol::PackParameterCode(p.TableNo, row, p.ParamNo);
}

}  // namespace

struct TParamFrm::ReadOutcome {
    enum Kind { Good, BadLine, Error, Dropped } kind = Error;
    std::string text;
    std::int32_t raw = 0;
    std::string error;
    Selection from;
};

TParamFrm::Selection TParamFrm::CurrentSelection() const {
    return {ComPortEdit->value(), AddrEdit->value(), RowEdit->value()};
}

// Descriptors were appended: the grid grows to them and the hidden list
// view lists them all.
void TParamFrm::FillGrid() {
    try {
        RxDGCommon->SetRowCount(ParamList->Count() + 1);
        GridFilled = true;
        RxDGCommonColumnSized();
        for (int i = 0; i < ParamList->Count(); ++i) {
            const CParameter* p = ParamList->Item(i);
            auto* item = new QListWidgetItem(QString::number(p->ParamNo) + QStringLiteral(" - ") +
                                             QString::fromStdString(p->Name));
            item->setData(Qt::UserRole, i);
            ListView->addItem(item);
        }
        if (ListView->count() > 0) ListView->setCurrentRow(0);
        // The rows of a newly loaded page exist only now: move onto them.
        RxDGCommonEnter();
    } catch (const std::exception&) {
        ListView->clear();
    }
}

void TParamFrm::ReportTableFailure() {
    SendColourMessage(kColourRed);
    Timer1->start();
    SetSimpleText(QString::fromUtf8(texts::kTableReadFailed));
}

TParamFrm::ReadOutcome TParamFrm::FetchRow(int row, const Selection& from, bool forPass) {
    ReadOutcome outcome;
    outcome.from = from;
    std::lock_guard lock(DriverLock);
    try {
        if (!Driver) RaiseWindowError(texts::kNoDriverRead);
        if (!ParamList) RaiseWindowError(texts::kNoDriverRead);
        // A closing window starts no more exchanges.
        if (forPass && passStop_.load()) {
            outcome.kind = ReadOutcome::Dropped;
            return outcome;
        }
        const CParameter* p = ParamList->Item(row - 1);
        // A write-only parameter is never asked for.
        const std::int32_t raw = p->Kind == params::pkWriteOnly
                                     ? 0
                                     : Driver->ReadParameter(from.line, from.address, ParameterCode(*p, from.row));
        if (Driver->GetLineResult(from.line) == 1) {
            outcome.text = shown::ValueText(*p, raw);
            outcome.raw = raw;
            outcome.kind = ReadOutcome::Good;
        } else {
            outcome.kind = ReadOutcome::BadLine;
        }
    } catch (const std::exception& error) {
        outcome.kind = ReadOutcome::Error;
        outcome.error = ErrorText(error);
    }
    return outcome;
}

std::string TParamFrm::ApplyReadOutcome(int row, const ReadOutcome& outcome) {
    switch (outcome.kind) {
        case ReadOutcome::Good:
            if (!outcome.text.empty() && ParamList && row - 1 < ParamList->Count()) {
                ParamList->Item(row - 1)->Value = outcome.raw;
                ParamList->Item(row - 1)->ValueRead = true;
            }
            SetPanelText(QString());
            return outcome.text;
        case ReadOutcome::BadLine:
            SendColourMessage(kColourRed);
            Timer1->start();
            // Stays visible: the operator sees why the cell says so.
            SetPanelText(QString::fromUtf8(texts::kReadError));
            return texts::kLinkError;
        case ReadOutcome::Error:
        case ReadOutcome::Dropped:
            break;
    }
    SetPanelText(QString::fromStdString(outcome.error));
    if (ParamFrmHooks().Beep) ParamFrmHooks().Beep();
    return std::string();
}

std::string TParamFrm::ReadRow(int row) {
    const ReadOutcome outcome = FetchRow(row, CurrentSelection(), false);
    return ApplyReadOutcome(row, outcome);
}

// The pass, on a tick thread of OprosFonTimer. A pass asked for meanwhile
// runs right after; a closing window ends it at its next row.
void TParamFrm::OprosFonTimerTimer() {
    OprosFonTimer->SetEnabled(false);
    {
        std::lock_guard lock(passMutex_);
        passPending_.store(false);
        if (stopping_.load() || passStop_.load()) return;
        if (passRunning_.load()) {
            passRequested_ = true;
            return;
        }
        passRunning_.store(true);
    }
    for (;;) {
        try {
            RunPass();
        } catch (...) {
            // A failed or cancelled hand-over ends the pass.
        }
        bool again = false;
        {
            // Never held while waiting for the GUI thread.
            std::lock_guard lock(passMutex_);
            again = passRequested_ && !stopping_.load() && !passStop_.load();
            passRequested_ = false;
            if (!again) passRunning_.store(false);
        }
        try {
            // Button1 comes back only when no pass runs and none is about to,
            // and no page loads.
            RunOnGui([this] { Button1->setEnabled(!passRunning_.load() && !passPending_.load() && !pageLoading_); });
        } catch (...) {
            // The window is closing; StopPass enables Button1.
        }
        if (!again) return;
    }
}

void TParamFrm::RunPass() {
    for (int r = 1;; ++r) {
        if (stopping_.load() || passStop_.load()) return;
        bool end = false;
        if (!PassRowStep(r, end)) return;
        if (end) break;
    }
    RunOnGui([this] { SetSimpleText(QString::fromUtf8(texts::kReadingDone)); });
}

// One row of the pass: the GUI thread checks the row's page, shows the
// progress and snapshots line, address and row; the value is read under
// DriverLock; the GUI thread applies the outcome, unless the selection has
// changed meanwhile, and repaints. False when the pass must end here.
bool TParamFrm::PassRowStep(int r, bool& end) {
    bool match = false;
    bool loading = false;
    Selection from;
    RunOnGui([&] {
        // A page load replaces the pass; the load starts one when it ends.
        if (pageLoading_) {
            loading = true;
            return;
        }
        if (!ParamList || r >= RxDGCommon->RowCount() || r - 1 >= ParamList->Count()) {
            end = true;
            return;
        }
        if (ParamList->Item(r - 1)->Page != TabControl1->TabIndex()) return;
        match = true;
        SetSimpleText(QString::fromUtf8(texts::kReadingParameter).arg(r - 1));
        from = CurrentSelection();
    });
    if (loading) return false;
    if (end || !match) return true;
    const ReadOutcome outcome = FetchRow(r, from, true);
    if (outcome.kind == ReadOutcome::Dropped) return false;
    bool stop = false;
    RunOnGui([&] {
        // A value of another line, address or row than the one chosen now
        // never reaches the grid; the pass asked for by the change follows.
        if (!(outcome.from == CurrentSelection())) return;
        const std::string text = ApplyReadOutcome(r, outcome);
        if (ParamList && r - 1 < ParamList->Count()) ParamList->Item(r - 1)->ReadText = text;
        stop = text.empty();
        RxDGCommon->viewport()->update();
    });
    return !stop;
}

void TParamFrm::WriteRow(int row) {
    QString message;
    std::uint32_t colour = kColourRed;
    try {
        if (!Driver) {
            message = QString::fromUtf8(texts::kNoDriverWrite);
        } else {
            if (!ParamList) RaiseWindowError(texts::kNoDriverWrite);
            CParameter* p = ParamList->Item(row - 1);
            message = SendWrite(*p, row, colour);
        }
    } catch (const std::exception&) {
        colour = kColourRed;
        message.clear();
    }
    SendColourMessage(colour);
    // The write's outcome stands alone, not beside an earlier pass's text.
    StatusSimple->clear();
    SetPanelText(message);
    Timer1->start();
}

// The editors' value as the descriptor encodes it, checked before anything is
// sent; then the write and, when it was taken, the read-back. Returns the
// status text and sets the colour.
QString TParamFrm::SendWrite(CParameter& p, int row, std::uint32_t& colour) {
    // A signed field is edited signed; the descriptor writes it unsigned.
    const params::TEditorInput input{shown::ForWriting(p, WriteValueEdit->Value()), WriteValueEdit2->Value(),
                                     WriteValueCB->currentIndex()};
    const params::TRawForWrite write = p.RawForWrite(input);
    switch (write.refusal) {
        case params::TWriteRefusal::wrNone:
            break;
        case params::TWriteRefusal::wrReadOnly:
            return QString::fromUtf8(texts::kReadOnly);
        case params::TWriteRefusal::wrNotWritable:
            return QString::fromUtf8(texts::kWriteError);
        case params::TWriteRefusal::wrNotANumber:
            return QString::fromUtf8(texts::kNotANumber);
        case params::TWriteRefusal::wrDoesNotFit:
            return QString::fromUtf8(texts::kDoesNotFit);
    }
    const Selection to = CurrentSelection();
    bool good = false;
    {
        std::lock_guard lock(DriverLock);
        Driver->WriteParameter(to.line, to.address, ParameterCode(p, to.row), write.raw);
        good = Driver->GetLineResult(to.line) == 1;
    }
    if (!good) return QString::fromUtf8(texts::kWriteError);
    colour = kColourGreen;
    p.Value = write.raw;
    p.ValueRead = true;  // the dispenser took it
    p.ReadText = ReadRow(row);
    return QString::fromUtf8(texts::kWriteDone);
}

}  // namespace zarvik
