// Loading a page: the table description and, on the page's first load, its
// field descriptions, read one after the other on a loader thread while the
// GUI thread goes on serving events. The loader holds DriverLock for each
// exchange only, starts once no pass runs (a pass ends at its next row while a
// load runs), hands every change of a control or of ParamList to the GUI
// thread with a blocking call and, when done, posts the rest of the page
// change (row heights, grid, the pass) to it. A close stops it at its next
// exchange; a page is recorded as loaded only with all its descriptors.
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ErrorText.h"
#include "ParamFrameTexts.h"
#include "driver/VM30.h"
#include "params/ParameterUnit.h"
#include "protocol/Cp1251.h"
#include "ui/ParamFrame.h"

namespace zarvik {

namespace {

// How often a loader looks whether the pass it waits for has ended.
constexpr auto kPassEndPoll = std::chrono::milliseconds(2);

bool PageHasRows(int page) {
    if (!ParamList) return false;
    for (int i = 0; i < ParamList->Count(); ++i)
        if (ParamList->Item(i)->Page == page) return true;
    return false;
}

}  // namespace

void TParamFrm::TabControl1Change() {
    const int t = TabControl1->TabIndex();
    if (t < 0 || t > 2) return;
    CalcKoef->setVisible(t == 1);
    // The load running now looks at the chosen tab again when it ends.
    if (pageLoading_) return;
    // A new page load: what the operations before it said is over.
    ClearStatusTexts();
    if (!ParamList) PrepareList();
    if (!Driver || !ParamList) {
        FinishPageLoad(t, true, std::string());
        return;
    }
    if (loader_.joinable()) loader_.join();
    pageLoading_ = true;
    loadStop_.store(false);
    loaderRunning_.store(true);
    Button1->setEnabled(false);
    loader_ = std::thread([this, t, from = CurrentSelection(), described = PageLoaded[t],
                           generation = loadGeneration_] { LoadPage(t, from, described, generation); });
}

// On the loader thread.
void TParamFrm::LoadPage(int t, Selection from, bool described, unsigned generation) {
    bool tableRead = false;
    std::string error;
    bool stopped = false;
    try {
        while (passRunning_.load() && !loadStop_.load()) std::this_thread::sleep_for(kPassEndPoll);
        stopped = !LoadTableInfo(t, from, described, tableRead);
    } catch (const TCancelled&) {
        stopped = true;
    } catch (const std::exception& failure) {
        error = ErrorText(failure);
    }
    try {
        // Posted from the GUI thread itself: the rest runs once this thread
        // has ended, unless a close came first.
        if (!stopped)
            RunOnGui([this, t, tableRead, &error, generation] {
                QMetaObject::invokeMethod(
                    this,
                    [this, t, tableRead, error, generation] {
                        if (generation == loadGeneration_) FinishPageLoad(t, tableRead, error);
                    },
                    Qt::QueuedConnection);
            });
    } catch (...) {
        // The window is closing.
    }
    loaderRunning_.store(false);
}

// The table description of page t; on a good one the row range and, on the
// page's first load, its descriptors. tableRead is false when the description
// came back bad. False when a close stopped the load.
bool TParamFrm::LoadTableInfo(int t, const Selection& from, bool described, bool& tableRead) {
    TTableInfo info;
    {
        std::lock_guard lock(DriverLock);
        if (loadStop_.load()) return false;
        Driver->ReadTableInfo(from.line, from.address, t + 1, info);
        tableRead = Driver->GetLineResult(from.line) == 1;
    }
    if (!tableRead) return true;
    RunOnGui([this, n = static_cast<int>(info.RowCount)] {
        RowEdit->setMaximum(std::max(1, n));
        RowEdit->setEnabled(n > 1);
        if (RowEdit->value() > n) RowEdit->setValue(std::max(1, n));
        RowLabel->setText(QString::fromUtf8(texts::kRowRangePrefix) + QString::number(n) + QStringLiteral(")"));
    });
    return described || AppendPage(t, from, info);
}

// A page is loaded once, recorded by its own flag. Its descriptors are built
// aside and join ParamList only when every field description came back good,
// so a failed or stopped load leaves nothing behind and the next load tries
// again. False when a close stopped the load.
bool TParamFrm::AppendPage(int t, const Selection& from, const TTableInfo& info) {
    std::vector<std::unique_ptr<CParameter>> page;
    for (int i = 1; i <= info.FieldCount; ++i) {
        TFieldInfo field;
        {
            std::lock_guard lock(DriverLock);
            if (loadStop_.load()) return false;
            Driver->ReadFieldInfo(from.line, from.address, t + 1, i, field);
            if (Driver->GetLineResult(from.line) != 1) RaiseWindowError(texts::kFieldInfoError);
        }
        auto p = std::make_unique<CParameter>(static_cast<std::uint8_t>(t + 1), static_cast<std::uint8_t>(i), 10, 0,
                                              cp1251::ToUtf8(field.Name.view()), std::string(), 0, field.LowLimit,
                                              field.HighLimit, 0, static_cast<std::uint8_t>(t), 1.0L);
        p->Width = field.DataSize;
        page.push_back(std::move(p));
    }
    RunOnGui([&] {
        {
            std::lock_guard lock(DriverLock);
            for (auto& p : page) ParamList->Add(std::move(p));
        }
        // The tab takes the table's name only once all its fields are read.
        TabControl1->Tabs->setTabText(t, QString::fromStdString(cp1251::ToUtf8(info.Name.view())));
        PageLoaded[t] = true;
    });
    return true;
}

// The page change after its load, on the GUI thread: row heights, the grid,
// then the pass; an error of the load is shown and no pass starts. Another
// tab chosen meanwhile is loaded instead.
void TParamFrm::FinishPageLoad(int t, bool tableRead, const std::string& error) {
    if (loader_.joinable()) loader_.join();
    pageLoading_ = false;
    Button1->setEnabled(!passRunning_.load() && !passPending_.load());
    if (!error.empty()) {
        if (ParamFrmHooks().ShowError) ParamFrmHooks().ShowError(this, QString::fromStdString(error));
        return;
    }
    if (TabControl1->TabIndex() != t) {
        TabControl1Change();
        return;
    }
    UpdateRowHeights(t);
    PlaceEditor(0, 0);
    RxDGCommonEnter();
    if (ParamList && ParamList->Count() + 1 > RxDGCommon->RowCount()) FillGrid();
    // A page whose table could not be described has nothing to read: saying
    // the reading was completed would be wrong.
    if (!tableRead && !PageHasRows(t)) {
        ReportTableFailure();
        return;
    }
    StartReadAll();
}

// Ends a running load at its next exchange and waits for its thread, serving
// the GUI thread meanwhile (the hand-overs are cancelled by the caller).
void TParamFrm::StopLoad() {
    loadStop_.store(true);
    ++loadGeneration_;
    WaitUntil([this] { return !loaderRunning_.load(); });
    if (loader_.joinable()) loader_.join();
    pageLoading_ = false;
}

}  // namespace zarvik
