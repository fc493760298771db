#include "StationWindow.h"

#include <QEventLoop>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include "DriverLibrary.h"
#include "StateNames.h"

namespace zarvik::host {

namespace {

constexpr int kMessageMs = 5000;

enum DispenserColumn { kColLine, kColDispenser, kColState, kColNozzle, kColLitres, kColMoney, kColLink };
enum QualityColumn { kColQualityLine, kColDevice, kColExchanges, kColGood, kColBad, kColTimeouts };

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
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return table;
}

}  // namespace

StationWindow::StationWindow(std::vector<StationWindowLine> lines, QWidget* parent)
    : QMainWindow(parent), lines_(std::move(lines)) {
    setObjectName(QStringLiteral("StationWindow"));
    // The platform appends " — zarvik-host", the application's display name.
    setWindowTitle(QStringLiteral("АЗС — станция"));
    resize(760, 420);

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
    QAction* pour = trkMenu_->addAction(QStringLiteral("Налить %1 л на ТРК %2").arg(kDemoDose).arg(PourDispenser()));
    pour->setObjectName(QStringLiteral("PourAction"));
    connect(pour, &QAction::triggered, this, [this] { Pour(); });
    trkMenu_->addSeparator();
    QAction* about = help->addAction(QStringLiteral("&О программе"));
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, windowTitle(), QStringLiteral("Станция с драйвером ТРК, загруженным из библиотеки."));
    });

    int rows = 0;
    for (const auto& l : lines_) rows += static_cast<int>(l.line.dispensers.size());
    dispensers_ = NewTable(
        this, QStringLiteral("DispensersTable"), rows,
        {QStringLiteral("Линия"), QStringLiteral("ТРК"), QStringLiteral("Состояние"), QStringLiteral("Пистолет"),
         QStringLiteral("Литры"), QStringLiteral("Сумма"), QStringLiteral("Связь")});
    quality_ = NewTable(this, QStringLiteral("LinesTable"), static_cast<int>(lines_.size()),
                        {QStringLiteral("Линия"), QStringLiteral("Устройство"), QStringLiteral("Обмены"),
                         QStringLiteral("Хорошие"), QStringLiteral("Плохие"), QStringLiteral("Таймауты")});
    for (const auto& l : lines_) {
        const int line = l.line.line;
        for (const PolledDispenser& d : l.line.dispensers) {
            const int row = DispenserRow(line, d.number);
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
    ShowLineMessage();
}

StationWindow::~StationWindow() { StopPolling(); }

void StationWindow::AdoptServiceEntry(QAction* item) {
    serviceEntry_ = item;
    item->setObjectName(QStringLiteral("ServiceEntry"));
    // Runs before the driver's own handler, connected after this factory
    // returned: the lines are quiet before the library's window opens.
    connect(item, &QAction::triggered, this, [this] { PausePolling(); });
}

void StationWindow::Attach(TDriver25* driver, const port::SerialPortManager& port) {
    CallSlot<void, QAction*, TMenuItemFactory>(driver, kSlotInsertMenuEntry, rootMenu_->menuAction(),
                                               &HostMenuItemFactory);
    // After the driver's handler: its window has closed and nothing of it
    // uses the driver any more.
    if (serviceEntry_ != nullptr) connect(serviceEntry_, &QAction::triggered, this, [this] { ResumePolling(); });

    for (const auto& l : lines_) {
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("poller %1").arg(l.line.line));
        auto* poller = new LinePoller(driver, port, l.line);
        poller->moveToThread(thread.get());
        connect(thread.get(), &QThread::finished, poller, &QObject::deleteLater);
        connect(poller, &LinePoller::DispenserPolled, this, &StationWindow::ShowReading);
        connect(poller, &LinePoller::QualityRead, this, &StationWindow::ShowQuality);
        connect(poller, &LinePoller::PourFinished, this, [this](int, const QString& error) { PourFinished(error); });
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
    if (pollers_.empty()) return;
    LinePoller* poller = pollers_.front();
    QMetaObject::invokeMethod(
        poller, [poller, dispenser = PourDispenser()] { poller->Pour(dispenser, 1, kDemoDose); }, Qt::QueuedConnection);
}

void StationWindow::PourFinished(const QString& error) {
    if (error.isEmpty()) {
        statusBar()->showMessage(
            QStringLiteral("ТРК %1: доза %2 л принята, пуск принят").arg(PourDispenser()).arg(kDemoDose), kMessageMs);
        return;
    }
    QMessageBox::critical(this, windowTitle(), error);
}

void StationWindow::ShowReading(int line, const DispenserReading& reading) {
    const int row = DispenserRow(line, reading.dispenser);
    if (row < 0) return;
    const QString none = QStringLiteral("—");
    if (!reading.error.isEmpty()) {
        SetCell(dispensers_, row, kColState, reading.error, Qt::AlignLeft)->setToolTip(reading.error);
        for (int column : {kColNozzle, kColLitres, kColMoney}) SetCell(dispensers_, row, column, none);
        SetCell(dispensers_, row, kColLink, QStringLiteral("нет"), Qt::AlignCenter);
        return;
    }
    if (reading.lineResult != 1) {
        // The values the driver holds are not from this poll.
        SetCell(dispensers_, row, kColState, QStringLiteral("Нет ответа"), Qt::AlignLeft)->setToolTip(QString());
        for (int column : {kColNozzle, kColLitres, kColMoney}) SetCell(dispensers_, row, column, none);
        SetCell(dispensers_, row, kColLink, QStringLiteral("нет (%1)").arg(reading.lineResult), Qt::AlignCenter);
        return;
    }
    SetCell(dispensers_, row, kColState, StateText(reading.state), Qt::AlignLeft)->setToolTip(QString());
    SetCell(dispensers_, row, kColNozzle, reading.nozzle != 0 ? QString::number(reading.nozzle) : none,
            Qt::AlignCenter);
    SetCell(dispensers_, row, kColLitres, QString::number(reading.litres, 'f', 2));
    SetCell(dispensers_, row, kColMoney, QString::number(reading.money, 'f', 2));
    SetCell(dispensers_, row, kColLink, QStringLiteral("есть"), Qt::AlignCenter);
}

void StationWindow::ShowQuality(int line, const LineQuality& quality) {
    const int row = LineRow(line);
    if (row < 0) return;
    SetCell(quality_, row, kColExchanges, QString::number(quality.exchanges));
    SetCell(quality_, row, kColGood, QString::number(quality.good));
    SetCell(quality_, row, kColBad, QString::number(quality.bad));
    SetCell(quality_, row, kColTimeouts, QString::number(quality.timeouts));
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

int StationWindow::DispenserRow(int line, int dispenser) const {
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

int StationWindow::PourDispenser() const {
    return lines_.empty() || lines_.front().line.dispensers.empty() ? 1 : lines_.front().line.dispensers.front().number;
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
