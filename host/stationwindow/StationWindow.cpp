#include "stationwindow/StationWindow.h"

#include <QEventLoop>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "hostkit/IsoTime.h"
#include "hostkit/StateNames.h"
#include "loader/DriverLibrary.h"

namespace zarvik::host {

namespace {

constexpr int kMessageMs = 5000;
constexpr int kAgeCheckMs = 200;  // how often the rows' ages are looked at
constexpr int kStateWidth = 280;  // pixels

enum DispenserColumn {
    kColLine,
    kColDispenser,
    kColState,
    kColNozzle,
    kColLitres,
    kColMoney,
    kColLink,
    kColReadAt,
    kColLost
};
enum QualityColumn {
    kColQualityLine,
    kColDevice,
    kColExchanges,
    kColGood,
    kColBad,
    kColTimeouts,
    kColDeviceErrors,
    kColReopens,
    kColLastCause
};

const QString kNone = QStringLiteral("—");

QString Time(std::chrono::system_clock::time_point time) { return QString::fromStdString(IsoTime(time)); }
QString Amount(double value) { return QString::number(value, 'f', 2); }

// The host's menu-item factory: a new item appended (index -1) or inserted
// at index in the parent's sub-menu, which is created when missing. The
// station window that owns the menu learns of the item before the driver
// fills it in.
QAction* HostMenuItemFactory(QAction* parent, std::int32_t index) {
    QMenu* menu = parent->menu();
    if (menu == nullptr) {
        menu = new QMenu(parent->text(), qobject_cast<QWidget*>(parent->parent()));
        parent->setMenu(menu);
    }
    auto* item = new QAction(menu);
    const auto actions = menu->actions();
    if (index >= 0 && index < actions.size())
        menu->insertAction(actions[index], item);
    else
        menu->addAction(item);
    for (QObject* owner = parent; owner != nullptr; owner = owner->parent()) {
        if (auto* window = qobject_cast<StationWindow*>(owner)) {
            window->AdoptServiceEntry(item);
            break;
        }
    }
    return item;
}

// What the window shows for a state code: the host's one naming of states,
// the code itself beside a kind it does not know.
QString StateText(std::uint8_t code) {
    const StateName name = NameDispenserState(code);
    const QString text = QString::fromUtf8(name.russian);
    return name.kind == StateKind::Unknown ? QStringLiteral("%1 (код %2)").arg(text).arg(code) : text;
}

QTableWidget* NewTable(QWidget* parent, const QString& name, int rows, const QStringList& headers) {
    auto* table = new QTableWidget(rows, static_cast<int>(headers.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setWordWrap(false);
    return table;
}

}  // namespace

StationWindow::StationWindow(std::vector<StationWindowLine> lines, QWidget* parent)
    : QMainWindow(parent), lines_(std::move(lines)) {
    setObjectName(QStringLiteral("StationWindow"));
    // The platform appends " — zarvik-host", the application's display name.
    setWindowTitle(QStringLiteral("АЗС — станция"));
    resize(1360, 460);

    // The main menu as the driver sees it: a root item whose sub-items are
    // the top-level menus; the menu bar shows the same items.
    rootMenu_ = new QMenu(this);
    QMenu* file = rootMenu_->addMenu(QStringLiteral("&Файл"));
    trkMenu_ = rootMenu_->addMenu(QStringLiteral("&ТРК"));
    QMenu* help = rootMenu_->addMenu(QStringLiteral("&Справка"));
    for (QAction* top : rootMenu_->actions()) menuBar()->addAction(top);

    QAction* quit = file->addAction(QStringLiteral("В&ыход"));
    quit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    BuildActions(trkMenu_);
    QAction* about = help->addAction(QStringLiteral("&О программе"));
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, windowTitle(), QStringLiteral("Станция с драйвером ТРК, загруженным из библиотеки."));
    });

    int rows = 0;
    for (const auto& l : lines_) rows += static_cast<int>(l.line.dispensers.size());
    dispensers_ =
        NewTable(this, QStringLiteral("DispensersTable"), rows,
                 {QStringLiteral("Линия"), QStringLiteral("ТРК"), QStringLiteral("Состояние"),
                  QStringLiteral("Пистолет"), QStringLiteral("Литры"), QStringLiteral("Сумма"), QStringLiteral("Связь"),
                  QStringLiteral("Последнее чтение"), QStringLiteral("Прерванный отпуск")});
    rows_.resize(static_cast<std::size_t>(rows));
    quality_ = NewTable(
        this, QStringLiteral("LinesTable"), static_cast<int>(lines_.size()),
        {QStringLiteral("Линия"), QStringLiteral("Устройство"), QStringLiteral("Обмены"), QStringLiteral("Хорошие"),
         QStringLiteral("Плохие"), QStringLiteral("Таймауты"), QStringLiteral("Ошибки устройства"),
         QStringLiteral("Переоткрытия"), QStringLiteral("Последняя причина")});
    for (const auto& l : lines_) {
        const int line = l.line.line;
        for (const PolledDispenser& d : l.line.dispensers) {
            const int row = RowOf(line, d.number);
            SetCell(dispensers_, row, kColLine, QString::number(line), Qt::AlignCenter);
            SetCell(dispensers_, row, kColDispenser,
                    d.name.isEmpty() ? QString::number(d.number) : QStringLiteral("%1 (%2)").arg(d.number).arg(d.name),
                    Qt::AlignCenter);
        }
        SetCell(quality_, LineRow(line), kColQualityLine, QString::number(line), Qt::AlignCenter);
        SetCell(quality_, LineRow(line), kColDevice, l.device, Qt::AlignLeft);
    }

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(dispensers_, 3);
    layout->addWidget(quality_, 1);
    setCentralWidget(central);
    connect(dispensers_, &QTableWidget::currentCellChanged, this, [this] { SelectionChanged(); });
    // A long cause is cut short in its cell and whole in its tooltip.
    dispensers_->horizontalHeader()->setSectionResizeMode(kColState, QHeaderView::Interactive);
    dispensers_->setColumnWidth(kColState, kStateWidth);
    // The first row is the one the buttons act on until another is chosen.
    if (rows > 0) dispensers_->setCurrentCell(0, kColLine, QItemSelectionModel::NoUpdate);
    SelectionChanged();
    ShowLineMessage();

    // Ages are the window's own business: a poll held up by a frozen line
    // does not hold up the marking of its rows.
    auto* ages = new QTimer(this);
    connect(ages, &QTimer::timeout, this, [this] { ShowAges(); });
    ages->start(kAgeCheckMs);
}

void StationWindow::BuildActions(QMenu* trk) {
    pour_ = trk->addAction(QString());
    pour_->setObjectName(QStringLiteral("PourAction"));
    connect(pour_, &QAction::triggered, this, [this] { Pour(); });
    acknowledge_ = trk->addAction(QStringLiteral("Подтвердить прерванный отпуск"));
    acknowledge_->setObjectName(QStringLiteral("AckAction"));
    connect(acknowledge_, &QAction::triggered, this, [this] { AcknowledgeLost(); });
    trk->addSeparator();

    QToolBar* bar = addToolBar(QStringLiteral("ТРК"));
    bar->setObjectName(QStringLiteral("PourBar"));
    bar->setMovable(false);
    pourNozzle_ = new QSpinBox(bar);
    pourNozzle_->setObjectName(QStringLiteral("PourNozzle"));
    pourNozzle_->setPrefix(QStringLiteral("пистолет "));
    pourNozzle_->setRange(1, 1);
    connect(pourNozzle_, &QSpinBox::valueChanged, this, [this] { SelectionChanged(); });
    bar->addWidget(pourNozzle_);
    bar->addAction(pour_);
    bar->addSeparator();
    bar->addAction(acknowledge_);
}

StationWindow::~StationWindow() { StopPolling(); }

void StationWindow::AdoptServiceEntry(QAction* item) {
    serviceEntry_ = item;
    item->setObjectName(QStringLiteral("ServiceEntry"));
    // Runs before the driver's own handler, connected after this factory
    // returned: the lines are quiet before the library's window opens.
    connect(item, &QAction::triggered, this, [this] { PausePolling(); });
}

void StationWindow::Attach(TDriver25* driver, port::SerialPortManager& port, port::FrameTraceHook trace) {
    auto replies = std::make_shared<StatusReplies>();
    // The hook may outlive the window (the port service does): it holds the reader.
    port.SetTraceHook([replies, trace = std::move(trace)](const port::FrameTraceEvent& e) {
        replies->Observe(e);
        if (trace) trace(e);
    });
    CallSlot<void, QAction*, TMenuItemFactory>(driver, kSlotInsertMenuEntry, rootMenu_->menuAction(),
                                               &HostMenuItemFactory);
    // After the driver's handler: its window has closed and nothing of it
    // uses the driver any more.
    if (serviceEntry_ != nullptr) connect(serviceEntry_, &QAction::triggered, this, [this] { ResumePolling(); });

    for (const auto& l : lines_) {
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("poller %1").arg(l.line.line));
        auto* poller = new LinePoller(driver, port, replies, l.line);
        poller->moveToThread(thread.get());
        connect(thread.get(), &QThread::finished, poller, &QObject::deleteLater);
        connect(poller, &LinePoller::DispenserPolled, this, &StationWindow::ShowReading);
        connect(poller, &LinePoller::QualityRead, this, &StationWindow::ShowQuality);
        connect(poller, &LinePoller::PourFinished, this, &StationWindow::PourFinished);
        if (PollingPaused()) poller->RequestPause();
        thread->start();
        QMetaObject::invokeMethod(poller, &LinePoller::Start, Qt::QueuedConnection);
        pollers_.push_back(poller);
        threads_.push_back(std::move(thread));
    }
}

void StationWindow::StopPolling() {
    for (LinePoller* poller : pollers_) poller->RequestPause();
    for (LinePoller* poller : pollers_) poller->WaitIdle();
    for (auto& thread : threads_) {
        thread->quit();
        thread->wait();
    }
    pollers_.clear();
    threads_.clear();
}

void StationWindow::PausePolling() {
    if (pauseDepth_++ > 0) return;
    statusBar()->showMessage(QStringLiteral("Опрос приостановлен: линию занимает окно настройки"));
    for (LinePoller* poller : pollers_) poller->RequestPause();
    const auto allIdle = [this] {
        for (LinePoller* poller : pollers_)
            if (poller->Busy()) return false;
        return true;
    };
    // A call under way (on a dead line: up to its timeouts) ends first; the
    // window keeps painting meanwhile.
    QEventLoop wait;
    for (LinePoller* poller : pollers_)
        connect(poller, &LinePoller::Parked, &wait, [&] {
            if (allIdle()) wait.quit();
        });
    if (!allIdle()) wait.exec(QEventLoop::ExcludeUserInputEvents);
    // Also when the loop ended early (the application is quitting).
    for (LinePoller* poller : pollers_) poller->WaitIdle();
}

void StationWindow::ResumePolling() {
    if (pauseDepth_ == 0 || --pauseDepth_ > 0) return;
    for (LinePoller* poller : pollers_) poller->Resume();
    ShowLineMessage();
}

void StationWindow::Pour() {
    const Place place = PlaceOf(dispensers_->currentRow());
    if (place.dispenser == nullptr) return;
    for (LinePoller* poller : pollers_) {
        if (poller->Line().line != place.line) continue;
        QMetaObject::invokeMethod(
            poller,
            [poller, dispenser = place.dispenser->number, nozzle = pourNozzle_->value()] {
                poller->Pour(dispenser, nozzle, kDemoDose);
            },
            Qt::QueuedConnection);
    }
}

void StationWindow::PourFinished(int line, int dispenser, int nozzle, const QString& error) {
    const QString where = QStringLiteral("Линия %1, ТРК %2, пистолет %3").arg(line).arg(dispenser).arg(nozzle);
    if (error.isEmpty()) {
        statusBar()->showMessage(where + QStringLiteral(": доза %1 л принята, пуск принят").arg(kDemoDose), kMessageMs);
        return;
    }
    QMessageBox::critical(this, windowTitle(), where + QStringLiteral(": ") + error);
}

void StationWindow::AcknowledgeLost() {
    const int row = dispensers_->currentRow();
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    rows_[static_cast<std::size_t>(row)].Acknowledge();
    ShowLost(row);
    SelectionChanged();
}

void StationWindow::SelectionChanged() {
    const int row = dispensers_->currentRow();
    const Place place = PlaceOf(row);
    pour_->setEnabled(place.dispenser != nullptr);
    acknowledge_->setEnabled(place.dispenser != nullptr && rows_[static_cast<std::size_t>(row)].Lost().has_value());
    if (place.dispenser == nullptr) {
        pour_->setText(QStringLiteral("Налить %1 л: выберите ТРК").arg(kDemoDose));
        return;
    }
    pourNozzle_->setMaximum(std::max(1, place.dispenser->nozzles));
    pour_->setText(QStringLiteral("Налить %1 л: линия %2, ТРК %3, пистолет %4")
                       .arg(kDemoDose)
                       .arg(place.line)
                       .arg(place.dispenser->number)
                       .arg(pourNozzle_->value()));
}

void StationWindow::ShowReading(int line, const DispenserReading& reading) {
    const int row = RowOf(line, reading.dispenser);
    if (row < 0) return;
    rows_[static_cast<std::size_t>(row)].Apply(reading);
    ShowRow(row, std::chrono::system_clock::now());
    ShowLost(row);
    if (row == dispensers_->currentRow()) SelectionChanged();
}

void StationWindow::ShowAges() {
    const auto now = std::chrono::system_clock::now();
    for (int row = 0; row < static_cast<int>(rows_.size()); ++row) ShowRow(row, now);
}

void StationWindow::ShowRow(int row, std::chrono::system_clock::time_point now) {
    const DispenserRow& state = rows_[static_cast<std::size_t>(row)];
    const auto& good = state.LastGood();
    if (!good && !state.Failure()) return;  // not polled yet
    SetCell(dispensers_, row, kColReadAt, good ? Time(good->time) : kNone, Qt::AlignCenter);
    if (const auto& failure = state.Failure()) {
        // Nothing of an earlier poll is shown as current.
        const bool noReply = failure->failure == ReadingFailure::NoReply;
        SetCell(dispensers_, row, kColState, failure->cause, Qt::AlignLeft)->setToolTip(failure->cause);
        for (int column : {kColNozzle, kColLitres, kColMoney}) SetCell(dispensers_, row, column, kNone);
        SetCell(dispensers_, row, kColLink, noReply ? QStringLiteral("нет ответа") : QStringLiteral("плохой ответ"),
                Qt::AlignCenter);
        for (int column : {kColState, kColNozzle, kColLitres, kColMoney, kColLink})
            dispensers_->item(row, column)->setForeground(QBrush());
        return;
    }
    const bool stale = state.Stale(now, kStaleAfter);
    SetCell(dispensers_, row, kColState, StateText(good->state), Qt::AlignLeft)->setToolTip(QString());
    SetCell(dispensers_, row, kColNozzle, good->nozzle != 0 ? QString::number(good->nozzle) : kNone, Qt::AlignCenter);
    SetCell(dispensers_, row, kColLitres, good->hasValues ? Amount(good->litres) : kNone);
    SetCell(dispensers_, row, kColMoney, good->hasValues ? Amount(good->money) : kNone);
    SetCell(dispensers_, row, kColLink, stale ? QStringLiteral("данные устарели") : QStringLiteral("есть"),
            Qt::AlignCenter);
    // Old values stay readable, greyed: they are not current.
    const QBrush ink = stale ? QBrush(Qt::gray) : QBrush();
    for (int column : {kColState, kColNozzle, kColLitres, kColMoney, kColLink})
        dispensers_->item(row, column)->setForeground(ink);
}

void StationWindow::ShowLost(int row) {
    const auto& lost = rows_[static_cast<std::size_t>(row)].Lost();
    QString text;
    QString tip;
    if (lost) {
        const QString litres = lost->hasValues ? Amount(lost->litres) : kNone;
        const QString money = lost->hasValues ? Amount(lost->money) : kNone;
        text =
            QStringLiteral("пистолет %1: %2 л, %3 — прерван %4").arg(lost->nozzle).arg(litres, money, Time(lost->lost));
        tip = QStringLiteral(
                  "Отпуск прерван потерей связи %1; последние значения получены %2. "
                  "Выберите строку и подтвердите.")
                  .arg(Time(lost->lost), Time(lost->lastGood));
    }
    QTableWidgetItem* cell = SetCell(dispensers_, row, kColLost, text, Qt::AlignLeft);
    cell->setBackground(lost ? QBrush(QColor(255, 205, 205)) : QBrush());
    cell->setToolTip(tip);
}

void StationWindow::ShowQuality(int line, const LineQuality& quality) {
    const int row = LineRow(line);
    if (row < 0) return;
    SetCell(quality_, row, kColExchanges, QString::number(quality.exchanges));
    SetCell(quality_, row, kColGood, QString::number(quality.good));
    SetCell(quality_, row, kColBad, QString::number(quality.bad));
    SetCell(quality_, row, kColTimeouts, QString::number(quality.timeouts));
    SetCell(quality_, row, kColDeviceErrors, QString::number(quality.deviceErrors));
    SetCell(quality_, row, kColReopens, QString::number(quality.reopens));
    // Times are formatted here only: the C library's zone data is not to be
    // read from two threads.
    const QString cause =
        quality.lastCause.isEmpty() ? QString() : Time(quality.lastCauseTime) + QStringLiteral(" ") + quality.lastCause;
    SetCell(quality_, row, kColLastCause, cause, Qt::AlignLeft)->setToolTip(cause);
}

QTableWidgetItem* StationWindow::SetCell(QTableWidget* table, int row, int column, const QString& text,
                                         Qt::Alignment align) {
    auto* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    item->setText(text);
    item->setTextAlignment(align | Qt::AlignVCenter);
    return item;
}

int StationWindow::RowOf(int line, int dispenser) const {
    int row = 0;
    for (const auto& l : lines_) {
        if (l.line.line != line) {
            row += static_cast<int>(l.line.dispensers.size());
            continue;
        }
        for (const PolledDispenser& d : l.line.dispensers) {
            if (d.number == dispenser) return row;
            ++row;
        }
        return -1;
    }
    return -1;
}

StationWindow::Place StationWindow::PlaceOf(int row) const {
    if (row < 0) return {};
    for (const auto& l : lines_) {
        const int count = static_cast<int>(l.line.dispensers.size());
        if (row < count) return {l.line.line, &l.line.dispensers[static_cast<std::size_t>(row)]};
        row -= count;
    }
    return {};
}

int StationWindow::LineRow(int line) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].line.line == line) return static_cast<int>(i);
    return -1;
}

void StationWindow::ShowLineMessage() {
    QStringList parts;
    for (const auto& l : lines_) parts << QStringLiteral("Линия %1: %2").arg(l.line.line).arg(l.device);
    statusBar()->showMessage(parts.join(QStringLiteral("; ")));
}

}  // namespace zarvik::host
