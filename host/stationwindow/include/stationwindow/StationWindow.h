// The station window: a main menu whose "&ТРК" menu receives the driver's
// service entry (operation 24), a table of every dispenser of the station
// (state, nozzle, litres, money, link, time of the last good reading, a
// delivery the line lost) and a table of every line's quality (the port
// service's exchanges, good, bad, timeouts, device errors, reopens and the
// latest failure's cause).
//
// No value is shown as live when it is not: litres and money are those of
// the nozzle the state names, from its own status reply, or "—"; a failed
// poll shows none ("нет ответа", "плохой ответ" with the cause); a timer
// marks a row whose last good reading is older than two poll intervals
// ("данные устарели"), whatever the poll is doing. A delivery the line lost
// stays in its row, marked with the time, until acknowledged (AckAction).
// The delivery button (PourAction) pours on the selected dispenser with the
// nozzle chosen beside it (PourNozzle).
//
// The window itself never calls the driver on a line: one LinePoller per
// line does, on a thread of its own, and hands its results over by queued
// signals. While the driver's service entry runs (the parameter window, its
// calibration dialog, an error box), every poller is paused and idle: the
// library's window then owns the driver. The pause waits for a call under way
// to end with the window painting and its timers running (user input waits).
#pragma once

#include <QMainWindow>
#include <QString>
#include <chrono>
#include <memory>
#include <vector>

#include "stationwindow/DispenserRow.h"
#include "stationwindow/LinePoller.h"

class QAction;
class QMenu;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;
class QThread;

namespace zarvik::host {

struct StationWindowLine {
    PolledLine line;
    QString device;
};

class StationWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr double kDemoDose = 10.0;
    static constexpr std::chrono::milliseconds kStaleAfter{2 * LinePoller::kPollMs};

    explicit StationWindow(std::vector<StationWindowLine> lines, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Lets the driver insert its entry (operation 24) and starts one poller
    // per line. The driver and the port service outlive StopPolling.
    // Every frame of the port goes to the window's status-reply reader, then
    // to `trace` when given (the port's trace hook is set here).
    void Attach(TDriver25* driver, port::SerialPortManager& port, port::FrameTraceHook trace = {});
    // Ends the pollers and their threads; no driver call of the window runs
    // after it returns. Called again by the destructor.
    void StopPolling();

    // The pollers stop before their next driver call; returns once none runs.
    // Pauses nest: polling goes on after as many ResumePolling calls.
    void PausePolling();
    void ResumePolling();
    bool PollingPaused() const { return pauseDepth_ > 0; }

    // The item the host's factory made for the driver's entry, or null when
    // the driver inserted none.
    QAction* ServiceEntry() const { return serviceEntry_; }
    // Called by the host's menu-item factory for the item it made.
    void AdoptServiceEntry(QAction* item);

    // Orders kDemoDose litres on the selected dispenser and nozzle.
    void Pour();
    // Forgets the lost delivery of the selected dispenser.
    void AcknowledgeLost();

private:
    struct Place {
        int line = 0;  // 0: none
        const PolledDispenser* dispenser = nullptr;
    };

    void BuildActions(QMenu* trk);
    void ShowReading(int line, const DispenserReading& reading);
    void ShowQuality(int line, const LineQuality& quality);
    void ShowRow(int row, std::chrono::system_clock::time_point now);
    void ShowLost(int row);
    void ShowAges();
    void PourFinished(int line, int dispenser, int nozzle, const QString& error);
    void SelectionChanged();
    QTableWidgetItem* SetCell(QTableWidget* table, int row, int column, const QString& text,
                              Qt::Alignment align = Qt::AlignRight);
    int RowOf(int line, int dispenser) const;
    Place PlaceOf(int row) const;
    int LineRow(int line) const;
    void ShowLineMessage();

    std::vector<StationWindowLine> lines_;
    QMenu* rootMenu_;
    QMenu* trkMenu_;
    QTableWidget* dispensers_;
    QTableWidget* quality_;
    QAction* serviceEntry_ = nullptr;
    QAction* pour_ = nullptr;
    QAction* acknowledge_ = nullptr;
    QSpinBox* pourNozzle_ = nullptr;
    std::vector<DispenserRow> rows_;
    std::vector<LinePoller*> pollers_;  // each lives on its thread and is deleted when it ends
    std::vector<std::unique_ptr<QThread>> threads_;
    int pauseDepth_ = 0;
};

}  // namespace zarvik::host
