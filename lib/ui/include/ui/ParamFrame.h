// TParamFrm: the service window "Программирование параметров ТРК". The user
// picks line, bus address and row, and one of three table pages; a page's
// table description becomes descriptors in ParamList, shown one per grid row;
// all values of the page are read by a background pass, one again by a double
// click on its "Чтение" cell, and an edited value is written with Enter after
// a confirmation.
//
// Threads. Everything runs on the GUI thread except the read-all pass, which
// runs on OprosFonTimer's tick thread, and a page load (table and field
// descriptions), which runs on a loader thread of its own; a load and a pass
// never run at once, and no read, write or calibration starts during a load. The driver and ParamList are guarded by
// DriverLock (recursive, so GUI code may nest): the pass holds it only while
// it reads one value and never while it waits for the GUI thread; every
// control update and every change of a descriptor's Value/ReadText of the pass
// is handed to the GUI thread with a blocking call before the pass goes on.
// Only one pass runs at a time; a pass asked for while one runs follows it.
// ParamList grows only on the GUI thread under DriverLock.
//
// Closing. Closing the window (done(), hence Esc, Alt+X, "Закрыть" and the
// title bar) stops a page load at its next exchange (the page loads again on
// its next choice) and the pass at its next row boundary and waits for it while
// the GUI thread goes on serving timers and other windows; ShowParamWindow
// does the same before it hands the window another driver and after the
// modal run, however the window was hidden. From then on nothing of the
// window uses the driver until it is shown again.
//
// Values read belong to the line, address and row they were read from: a
// change of any of the three forgets every value read, and an outcome that
// comes back for another selection than the current one is dropped.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "library/ParamWindow.h"
#include "ui/Grid.h"
#include "ui/GridSpinEdit.h"
#include "ui/ParamFrameHandOver.h"

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabBar;
class QTimer;

namespace zarvik::params {
class CParameter;
class CTRKParameters;
}  // namespace zarvik::params
namespace zarvik::timer {
class TFonTimer;
}  // namespace zarvik::timer

namespace zarvik {

class TVM30;
struct TTableInfo;
class TParamFrm;
using params::CParameter;
using params::CTRKParameters;
using timer::TFonTimer;

// The single window (created on first use) and the descriptors of every
// loaded page (created by the first showing, destroyed with the window).
extern TParamFrm* ParamFrm;
extern CTRKParameters* ParamList;

// ShowParamWindow (library/ParamWindow.h) is defined by this layer: it creates
// ParamFrm on first use (parent: the host's main widget); then, when driver is
// not null, gives it the driver and shows it modally.

// Points where the window meets the user outside its own controls; tests
// replace them. Defaults: QMessageBox, QApplication::beep, RunCalibration.
struct TParamFrmHooks {
    // The write confirmation: true for OK.
    std::function<bool(QWidget* parent, const QString& text, const QString& caption)> Confirm;
    // An error that left an event handler.
    std::function<void(QWidget* parent, const QString& text)> ShowError;
    std::function<void()> Beep;
    // The calibration dialog for (line, address, row); may raise.
    std::function<void(int line, int address, int row)> Calibrate;
};
TParamFrmHooks& ParamFrmHooks();

// Status-bar colours, toolkit encoding (low byte red).
inline constexpr std::uint32_t kColourRed = 255;
inline constexpr std::uint32_t kColourGreen = 32768;
inline constexpr std::uint32_t kColourBtnFace = 0xFF00000F;

// The tab control: a tab bar over a client area that holds the grid.
class TTabControl : public QWidget {
    Q_OBJECT
public:
    explicit TTabControl(QWidget* parent = nullptr);
    QTabBar* Tabs;
    int TabIndex() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TParamFrm : public QDialog {
    Q_OBJECT
public:
    explicit TParamFrm(QWidget* parent = nullptr);
    ~TParamFrm() override;

    // --- controls ---
    QWidget* Panel1;
    QLabel* Label1;
    QSpinBox* ComPortEdit;
    QLabel* Label3;
    QSpinBox* AddrEdit;
    QLabel* RowLabel;
    QSpinBox* RowEdit;
    QPushButton* Button1;
    QPushButton* CalcKoef;
    QPushButton* BitBtn1;
    QListWidget* ListView;
    TTabControl* TabControl1;
    TRxDrawGrid* RxDGCommon;
    QWidget* Panel2;
    TRxSpinEdit* WriteValueEdit;
    TRxSpinEdit* WriteValueEdit2;
    QComboBox* WriteValueCB;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel0;  // panel 0: results of reads and writes
    QLabel* StatusSimple;  // the pass's progress text
    QAction* ActionExit;
    QTimer* Timer1;
    QTimer* Timer2;
    TFonTimer* OprosFonTimer;

    // --- fields ---
    bool GridFilled = false;
    TVM30* Driver = nullptr;
    std::recursive_mutex DriverLock;
    std::uint32_t StatusColour = kColourBtnFace;  // GUI thread only
    bool PageLoaded[3] = {false, false, false};   // GUI thread only

    // --- reading and writing (GUI thread unless stated) ---
    // Reads the parameter of grid row `row`; returns the text to show, empty
    // after an error (whose text then is in panel 0). Never raises.
    std::string ReadRow(int row);
    // Writes the editor's value to the parameter of grid row `row`; the
    // outcome shows in the status bar. Never raises.
    void WriteRow(int row);
    // Sends the colour message: runs on the GUI thread whatever thread calls,
    // and returns after the colour was set.
    void SendColourMessage(std::uint32_t colour);
    // Disables Button1 and switches OprosFonTimer on; nothing while the
    // window is hidden.
    void StartReadAll();
    bool PassRunning() const { return passRunning_.load(); }
    // A page load runs (GUI thread).
    bool PageLoading() const { return pageLoading_; }
    // Ends a running or pending pass at its next row boundary and waits for
    // its thread, serving the GUI thread meanwhile; Button1 is enabled again.
    void StopPass();
    // Forgets every value read (ReadText and Value of all descriptors).
    void ForgetReadValues();

    // --- grid ---
    std::string NameText(int row) const;
    std::string LimitsText(int row) const;
    // The "Запись" cell: the current value, empty until it was read.
    std::string WriteCellText(int row) const;
    static void DrawValueBox(QPainter& painter, const TRect& rect, const QString& text);
    int CalcRowHeight(int row) const;
    void UpdateRowHeights(int page);
    void ChooseEditor(int row);
    void PlaceEditor(int row, int column);
    void PrepareList();
    void ClearListView();

    // --- handlers ---
    void FormShow();
    void FormClose();
    void FormDestroy();
    // Starts the chosen page's load; its errors show through ShowError.
    void TabControl1Change();
    void RowEditChange();
    void Button1Click();
    void CalcKoefClick();       // raises what the calibration dialog raises
    void OprosFonTimerTimer();  // the pass; on the timer's tick thread
    void Timer1Timer();
    void ActionExitExecute();
    void ListViewSelectItem(QListWidgetItem* item, bool selected);
    void RxDGCommonDrawCell(int column, int row, const TRect& rect, QPainter& painter);
    void RxDGCommonColumnSized();
    void RxDGCommonMouseMove(QPoint point);
    void RxDGCommonDblClick(QPoint point);
    void RxDGCommonSelectCell(int column, int row);
    void RxDGCommonEnter();
    void Timer2Timer();
    void WriteValueEditExit();
    // True when the key was Enter (the write was offered).
    bool WriteValueEditKeyDown(int key);

    // Millisecond pause of UpdateRowHeights after every second row.
    int RowHeightPause = 40;

signals:
    // The pass's progress and completion texts, in order (for watchers).
    void SimpleTextChanged(const QString& text);
    // A run of UpdateRowHeights finished for the page.
    void RowHeightsUpdated(int page);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public:
    void done(int result) override;

private:
    struct ReadOutcome;
    struct Selection {
        int line = 0, address = 0, row = 0;
        friend bool operator==(const Selection&, const Selection&) = default;
    };
    Selection CurrentSelection() const;
    ReadOutcome FetchRow(int row, const Selection& from, bool forPass);
    std::string ApplyReadOutcome(int row, const ReadOutcome& outcome);
    void RunPass();
    bool PassRowStep(int r, bool& end);
    void FinishPass();
    void LoadPage(int t, Selection from, bool described, unsigned generation);
    bool LoadTableInfo(int t, const Selection& from, bool described, bool& tableRead);
    bool AppendPage(int t, const Selection& from, const TTableInfo& info);
    void FinishPageLoad(int t, bool tableRead, const std::string& error);
    void StopLoad();
    // Serves timers and other windows (not user input to this one) until over().
    void WaitUntil(const std::function<bool()>& over);
    void FillGrid();
    void ReportTableFailure();
    QString SendWrite(CParameter& p, int row, std::uint32_t& colour);
    void ShowEditors(bool edit, bool edit2, bool list);
    void FillChoices(const CParameter& p, int index);
    void ChooseNumberEditor(const CParameter& p);
    void PositionEditors(const TRect& r);
    void BuildControls();
    void BindHandlers();
    void RunOnGui(const std::function<void()>& work);
    void Guarded(const std::function<void()>& handler);
    void SetPanelText(const QString& text);
    void SetSimpleText(const QString& text);
    // Both texts of the status bar emptied (not a pass text: no signal).
    void ClearStatusTexts();

    TGuiHandOver* handOver_;
    std::atomic<bool> passRunning_{false};
    std::atomic<bool> stopping_{false};     // the window is being destroyed
    std::atomic<bool> passStop_{false};     // the window closed: passes end at their next row
    std::atomic<bool> passPending_{false};  // a start was asked for; its tick has not come
    std::mutex passMutex_;                  // guards passRequested_ with passRunning_
    bool passRequested_ = false;
    bool pageLoading_ = false;                // a page load runs (GUI thread)
    unsigned loadGeneration_ = 0;             // a stop leaves the posted end of a load unheeded (GUI thread)
    std::atomic<bool> loadStop_{false};       // the window closed: the load ends at its next exchange
    std::atomic<bool> loaderRunning_{false};  // the loader thread has not ended yet
    std::thread loader_;
    bool rowHeightsBusy_ = false;  // UpdateRowHeights runs (GUI thread)
    int rowHeightsAgain_ = -1;     // page asked for meanwhile, or -1
};

}  // namespace zarvik
