// Loading a page, reading one value, the read-all pass and writing.
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

#include "ParamFrameTexts.h"
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
    enum Kind { Good, BadLine, Error } kind = Error;
    std::string text;
    std::int32_t raw = 0;
    std::string error;
};

void TParamFrm::TabControl1Change() {
    const int t = TabControl1->TabIndex();
    if (t < 0 || t > 2) return;
    CalcKoef->setVisible(t == 1);
    const int line = ComPortEdit->value();
    const int address = AddrEdit->value();
    if (!ParamList) PrepareList();

    if (Driver && ParamList) {
        std::lock_guard lock(DriverLock);
        TTableInfo info;
        Driver->ReadTableInfo(line, address, t + 1, info);
        if (Driver->GetLineResult(line) == 1) {
            const int n = info.RowCount;
            RowEdit->setMaximum(std::max(1, n));
            RowEdit->setEnabled(n > 1);
            if (RowEdit->value() > n) RowEdit->setValue(std::max(1, n));
            RowLabel->setText(QString::fromUtf8(texts::kRowRangePrefix) + QString::number(n) + QStringLiteral(")"));

            // A page is loaded once, recorded by its own flag. Its descriptors
            // are built aside and join ParamList only when every field
            // description came back good, so a failed load leaves nothing
            // behind and the next load tries again.
            if (!PageLoaded[t]) {
                const QString oldCaption = TabControl1->Tabs->tabText(t);
                TabControl1->Tabs->setTabText(t, QString::fromStdString(cp1251::ToUtf8(info.Name.view())));
                std::vector<std::unique_ptr<CParameter>> page;
                try {
                    for (int i = 1; i <= info.FieldCount; ++i) {
                        TFieldInfo field;
                        Driver->ReadFieldInfo(line, address, t + 1, i, field);
                        if (Driver->GetLineResult(line) != 1) throw Exception(texts::kFieldInfoError);
                        page.push_back(std::make_unique<CParameter>(
                            static_cast<std::uint8_t>(t + 1), static_cast<std::uint8_t>(i), 10, 0,
                            cp1251::ToUtf8(field.Name.view()), std::string(), 0, field.LowLimit, field.HighLimit, 0,
                            static_cast<std::uint8_t>(t), 1.0L));
                    }
                } catch (...) {
                    TabControl1->Tabs->setTabText(t, oldCaption);
                    throw;
                }
                for (auto& p : page) ParamList->Add(std::move(p));
                PageLoaded[t] = true;
            }
        }
    }

    UpdateRowHeights(t);
    PlaceEditor(0, 0);
    RxDGCommonEnter();

    if (ParamList && ParamList->Count() + 1 > RxDGCommon->RowCount()) {
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
    StartReadAll();
}

TParamFrm::ReadOutcome TParamFrm::FetchRow(int row, int line, int address, int rowNo) {
    ReadOutcome outcome;
    std::lock_guard lock(DriverLock);
    try {
        if (!Driver) throw Exception(texts::kNoDriverRead);
        if (!ParamList) throw Exception(texts::kNoDriverRead);
        const CParameter* p = ParamList->Item(row - 1);
        // A write-only parameter is never asked for.
        const std::int32_t raw = p->Kind == 9 ? 0 : Driver->ReadParameter(line, address, ParameterCode(*p, rowNo));
        if (Driver->GetLineResult(line) == 1) {
            outcome.text = p->ValueText(raw);
            outcome.raw = raw;
            outcome.kind = ReadOutcome::Good;
        } else {
            outcome.kind = ReadOutcome::BadLine;
        }
    } catch (const std::exception& error) {
        outcome.kind = ReadOutcome::Error;
        outcome.error = error.what();
    }
    return outcome;
}

std::string TParamFrm::ApplyReadOutcome(int row, const ReadOutcome& outcome) {
    switch (outcome.kind) {
        case ReadOutcome::Good:
            if (!outcome.text.empty() && ParamList && row - 1 < ParamList->Count())
                ParamList->Item(row - 1)->Value = outcome.raw;
            SetPanelText(QString());
            return outcome.text;
        case ReadOutcome::BadLine:
            SendColourMessage(kColourRed);
            Timer1->start();
            // Stays visible: the operator sees why the cell says so.
            SetPanelText(QString::fromUtf8(texts::kReadError));
            return texts::kLinkError;
        case ReadOutcome::Error:
            break;
    }
    SetPanelText(QString::fromStdString(outcome.error));
    if (ParamFrmHooks().Beep) ParamFrmHooks().Beep();
    return std::string();
}

std::string TParamFrm::ReadRow(int row) {
    const ReadOutcome outcome = FetchRow(row, ComPortEdit->value(), AddrEdit->value(), RowEdit->value());
    return ApplyReadOutcome(row, outcome);
}

// The pass, on a tick thread of OprosFonTimer. Each row: the GUI thread
// checks the row's page, shows the progress and snapshots line, address and
// row; the value is read under DriverLock; the GUI thread applies the
// outcome and repaints. A pass asked for meanwhile runs right after.
void TParamFrm::OprosFonTimerTimer() {
    OprosFonTimer->SetEnabled(false);
    if (stopping_.load()) return;
    {
        std::lock_guard lock(passMutex_);
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
        std::lock_guard lock(passMutex_);
        const bool again = passRequested_ && !stopping_.load();
        passRequested_ = false;
        try {
            RunOnGui([this, again] { Button1->setEnabled(!again); });
        } catch (...) {
            // The window is closing down.
        }
        if (!again) {
            passRunning_.store(false);
            return;
        }
    }
}

void TParamFrm::RunPass() {
    for (int r = 1;; ++r) {
        if (stopping_.load()) return;
        bool end = false, match = false;
        int line = 0, address = 0, rowNo = 0;
        RunOnGui([&] {
            if (!ParamList || r >= RxDGCommon->RowCount() || r - 1 >= ParamList->Count()) {
                end = true;
                return;
            }
            if (ParamList->Item(r - 1)->Page != TabControl1->TabIndex()) return;
            match = true;
            SetSimpleText(QString::fromUtf8(texts::kReadingParameter).arg(r - 1));
            line = ComPortEdit->value();
            address = AddrEdit->value();
            rowNo = RowEdit->value();
        });
        if (end) break;
        if (!match) continue;
        const ReadOutcome outcome = FetchRow(r, line, address, rowNo);
        bool stop = false;
        RunOnGui([&] {
            const std::string text = ApplyReadOutcome(r, outcome);
            if (ParamList && r - 1 < ParamList->Count()) ParamList->Item(r - 1)->ReadText = text;
            stop = text.empty();
            RxDGCommon->viewport()->update();
        });
        if (stop) return;
    }
    RunOnGui([this] { SetSimpleText(QString::fromUtf8(texts::kReadingDone)); });
}

void TParamFrm::WriteRow(int row) {
    QString message;
    std::uint32_t colour = kColourRed;
    try {
        if (!Driver) {
            message = QString::fromUtf8(texts::kNoDriverWrite);
        } else {
            CParameter* p = ParamList ? ParamList->Item(row - 1) : throw Exception(texts::kNoDriverWrite);
            bool send = true;
            std::int32_t raw = 0;
            switch (p->Kind) {
                case 0:
                case 6:
                case 8:
                case 11:
                    raw = p->ToRaw(WriteValueEdit->Value());
                    break;
                case 1:
                case 7:
                    raw = p->ToRaw(WriteValueCB->currentIndex());
                    break;
                case 2:
                    raw = static_cast<std::int32_t>(
                        params::NearestInteger(WriteValueEdit->Value() * 1000.0L + WriteValueEdit2->Value()));
                    break;
                case 3:
                case 5: {
                    const auto v = static_cast<std::int32_t>(params::NearestInteger(WriteValueEdit->Value()));
                    raw = v >= 0 ? v : 200 - v;
                    break;
                }
                case 4:
                    raw = WriteValueCB->currentIndex() == 0 ? 1 : WriteValueCB->currentIndex() == 1 ? 200 : 0;
                    break;
                case 10:
                    message = QString::fromUtf8(texts::kReadOnly);
                    send = false;
                    break;
                default:
                    message = QString::fromUtf8(texts::kWriteError);
                    send = false;
                    break;
            }
            if (send) {
                const int line = ComPortEdit->value();
                bool good = false;
                {
                    std::lock_guard lock(DriverLock);
                    Driver->WriteParameter(line, AddrEdit->value(), ParameterCode(*p, RowEdit->value()), raw);
                    good = Driver->GetLineResult(line) == 1;
                }
                if (good) {
                    colour = kColourGreen;
                    message = QString::fromUtf8(texts::kWriteDone);
                    p->Value = raw;
                    p->ReadText = ReadRow(row);
                } else {
                    message = QString::fromUtf8(texts::kWriteError);
                }
            }
        }
    } catch (const std::exception&) {
        colour = kColourRed;
        message.clear();
    }
    SendColourMessage(colour);
    SetPanelText(message);
    Timer1->start();
}

}  // namespace zarvik
