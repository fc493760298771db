// The station window: a main menu whose "&ТРК" menu receives the driver's
// service entry (operation 24), a table of every dispenser of the station
// (state, nozzle, litres, money, link) and a table of every line's quality
// (the port service's exchanges, good, bad, timeouts).
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
#include <memory>
#include <vector>

#include "LinePoller.h"

class QAction;
class QMenu;
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

    explicit StationWindow(std::vector<StationWindowLine> lines, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Lets the driver insert its entry (operation 24) and starts one poller
    // per line. The driver and the port service outlive StopPolling.
    void Attach(TDriver25* driver, const port::SerialPortManager& port);
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

    // Orders kDemoDose litres on the first dispenser of the first line, nozzle 1.
    void Pour();

private:
    void ShowReading(int line, const DispenserReading& reading);
    void ShowQuality(int line, const LineQuality& quality);
    void PourFinished(const QString& error);
    QTableWidgetItem* SetCell(QTableWidget* table, int row, int column, const QString& text,
                              Qt::Alignment align = Qt::AlignRight);
    int DispenserRow(int line, int dispenser) const;
    int LineRow(int line) const;
    int PourDispenser() const;  // the first dispenser of the first line
    void ShowLineMessage();

    std::vector<StationWindowLine> lines_;
    QMenu* rootMenu_;
    QMenu* trkMenu_;
    QTableWidget* dispensers_;
    QTableWidget* quality_;
    QAction* serviceEntry_ = nullptr;
    std::vector<LinePoller*> pollers_;  // each lives on its thread and is deleted when it ends
    std::vector<std::unique_ptr<QThread>> threads_;
    int pauseDepth_ = 0;
};

}  // namespace zarvik::host
