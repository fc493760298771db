// The window's controls, its lifecycle, the status bar and the plain
// handlers. Reading, writing and the pass are in ParamFrameIO.cpp; the grid's
// drawing and the in-place editors in ParamFrameGrid.cpp.
#include "ui/ParamFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <utility>

#include "AppWidget.h"
#include "ErrorText.h"
#include "FormFont.h"
#include "ParamFrameTexts.h"
#include "params/ParameterUnit.h"
#include "timer/FonTimer.h"
#include "ui/CalculateForm.h"

namespace zarvik {

TParamFrm* ParamFrm = nullptr;
CTRKParameters* ParamList = nullptr;

namespace {

// The colour message: handled by the window's own event handler, sent
// synchronously.
const QEvent::Type kColourMessage = static_cast<QEvent::Type>(QEvent::User + 24);

// How often a closing window looks whether the pass has ended.
constexpr int kPassStopPollMs = 5;

class TColourEvent : public QEvent {
public:
    explicit TColourEvent(std::uint32_t colour) : QEvent(kColourMessage), Colour(colour) {}
    std::uint32_t Colour;
};

QColor ToQColor(std::uint32_t colour) {
    if (colour == kColourBtnFace) return QApplication::palette().color(QPalette::Button);
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

// The row label wraps two lines into 24 pixels and takes a pixel less than
// the form's font.
constexpr int kRowLabelFontPixels = 10;

// The form's controls: name, kind, parent, geometry (left, top, width,
// height; a label of width 0 takes its text's size), caption, and for spin
// edits the top of their range (from 1).
enum class TControlKind : std::uint8_t {
    ckPanel,
    ckLabel,
    ckWrapLabel,
    ckSpin,
    ckButton,
    ckBoldButton,
    ckList,
    ckTabs,
    ckGrid,
    ckSpinEdit,
    ckChoiceList,
    ckStatusBar
};

struct TControlSpec {
    const char* name;
    TControlKind kind;
    const char* parent;  // "" for the form itself
    QRect geometry;
    const char* text;
    int top;
};

using enum TControlKind;
constexpr TControlSpec kControls[] = {
    {"Panel1", ckPanel, "", {0, 0, 817, 677}, nullptr, 0},
    {"Label1", ckLabel, "Panel1", {8, 14, 0, 0}, texts::kComPort, 0},
    {"ComPortEdit", ckSpin, "Panel1", {96, 8, 89, 22}, nullptr, 32},
    {"Label3", ckLabel, "Panel1", {200, 11, 0, 0}, texts::kAddress, 0},
    {"AddrEdit", ckSpin, "Panel1", {272, 8, 89, 22}, nullptr, 32},
    {"RowLabel", ckWrapLabel, "Panel1", {388, 8, 86, 24}, texts::kNozzleAddress, 0},
    {"RowEdit", ckSpin, "Panel1", {480, 8, 65, 22}, nullptr, 6},
    {"Button1", ckBoldButton, "Panel1", {8, 49, 233, 25}, texts::kReadAll, 0},
    {"CalcKoef", ckBoldButton, "Panel1", {400, 64, 241, 25}, texts::kCalcKoef, 0},
    {"BitBtn1", ckButton, "Panel1", {680, 64, 121, 25}, texts::kClose, 0},
    {"ListView", ckList, "Panel1", {1, 80, 895, 0}, nullptr, 0},
    {"TabControl1", ckTabs, "Panel1", {1, 80, 815, 596}, nullptr, 0},
    {"RxDGCommon", ckGrid, "TabControl1", {4, 24, 807, 568}, nullptr, 0},
    {"Panel2", ckPanel, "", {0, 677, 817, 0}, nullptr, 0},
    {"WriteValueEdit", ckSpinEdit, "Panel2", {96, 42, 121, 21}, nullptr, 0},
    {"WriteValueEdit2", ckSpinEdit, "Panel2", {224, 42, 121, 21}, nullptr, 0},
    {"WriteValueCB", ckChoiceList, "Panel2", {96, 42, 717, 21}, nullptr, 0},
    {"StatusBar1", ckStatusBar, "", {0, 677, 817, 19}, nullptr, 0},
};

constexpr int kColumnWidths[5] = {38, 422, 122, 74, 72};
constexpr int kTabBarHeight = 24;

QPushButton* NewButton(const TControlSpec& spec, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(spec.text), parent);
    if (spec.kind == ckBoldButton) button->setFont(FormFont(kFormFontPixels, true));
    // No button of the window is a default button: Enter in an in-place
    // editor writes, and Enter on a focused button presses that button.
    button->setAutoDefault(false);
    button->setDefault(false);
    PressOnEnter(button);
    return button;
}

QWidget* NewTabControl(QWidget* parent) {
    auto* tabs = new TTabControl(parent);
    for (const char* caption : texts::kTabCaptions) tabs->Tabs->addTab(QString::fromUtf8(caption));
    tabs->Tabs->setCurrentIndex(0);
    return tabs;
}

QWidget* NewGrid(QWidget* parent) {
    auto* grid = new TRxDrawGrid(parent);
    grid->SetColCount(5);
    grid->SetRowCount(1);
    for (int c = 0; c < 5; ++c) grid->SetColWidth(c, kColumnWidths[c]);
    return grid;
}

QWidget* NewControl(const TControlSpec& spec, QWidget* parent) {
    switch (spec.kind) {
        case ckPanel:
            return new QWidget(parent);
        case ckLabel:
        case ckWrapLabel: {
            auto* label = new QLabel(QString::fromUtf8(spec.text), parent);
            label->setWordWrap(spec.kind == ckWrapLabel);
            if (spec.kind == ckWrapLabel) label->setFont(FormFont(kRowLabelFontPixels));
            return label;
        }
        case ckSpin: {
            auto* spin = new QSpinBox(parent);
            spin->setRange(1, spec.top);
            spin->setValue(1);
            return spin;
        }
        case ckButton:
        case ckBoldButton:
            return NewButton(spec, parent);
        case ckList: {
            auto* list = new QListWidget(parent);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->hide();
            return list;
        }
        case ckTabs:
            return NewTabControl(parent);
        case ckGrid:
            return NewGrid(parent);
        case ckSpinEdit:
            return new TRxSpinEdit(parent);
        case ckChoiceList:
            return new QComboBox(parent);
        case ckStatusBar:
            return new QStatusBar(parent);
    }
    return nullptr;
}

}  // namespace

TParamFrmHooks& ParamFrmHooks() {
    static TParamFrmHooks hooks{
        [](QWidget* parent, const QString& text, const QString& caption) {
            QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
            return box.exec() == QMessageBox::Ok;
        },
        [](QWidget* parent, const QString& text) { QMessageBox::critical(parent, QString(), text); },
        [] { QApplication::beep(); },
        [](int line, int address, int row) { RunCalibration(line, address, row); },
    };
    return hooks;
}

TTabControl::TTabControl(QWidget* parent) : QWidget(parent), Tabs(new QTabBar(this)) {
    Tabs->setDrawBase(false);
    Tabs->setExpanding(false);
}

int TTabControl::TabIndex() const { return Tabs->currentIndex(); }

void TTabControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, Tabs->height() - 2, 0, 0);
    frame.tabBarSize = Tabs->size();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

TParamFrm::TParamFrm(QWidget* parent) : QDialog(parent), handOver_(new TGuiHandOver(this)) {
    setObjectName(QStringLiteral("ParamFrm"));
    setWindowTitle(QString::fromUtf8(texts::kCaption));
    setFont(FormFont(kFormFontPixels));
    setFixedSize(817, 696);
    BuildControls();

    ActionExit = new QAction(QStringLiteral("ActionExit"), this);
    ActionExit->setObjectName(QStringLiteral("ActionExit"));
    ActionExit->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::Key_Escape)});
    ActionExit->setShortcutContext(Qt::WindowShortcut);
    addAction(ActionExit);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(50);
    OprosFonTimer = new TFonTimer(this);
    OprosFonTimer->setObjectName(QStringLiteral("OprosFonTimer"));
    OprosFonTimer->SetInterval(20);
    OprosFonTimer->SetThreadType(timer::ttFon);
    OprosFonTimer->SetOnTimer([this](TFonTimer*) { OprosFonTimerTimer(); });

    BindHandlers();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// Creates the controls of kControls under their parents, by the form's own
// names, then takes the members from them.
void TParamFrm::BuildControls() {
    for (const TControlSpec& spec : kControls) {
        QWidget* parent = *spec.parent ? findChild<QWidget*>(QString::fromLatin1(spec.parent)) : this;
        QWidget* control = NewControl(spec, parent);
        control->setObjectName(QString::fromLatin1(spec.name));
        if (spec.kind == ckLabel) {
            control->move(spec.geometry.topLeft());
            control->adjustSize();
        } else {
            control->setGeometry(spec.geometry);
        }
    }
    const auto take = [this]<typename T>(T*& member, const char* name) {
        member = findChild<T*>(QString::fromLatin1(name));
    };
    take(Panel1, "Panel1");
    take(Label1, "Label1");
    take(ComPortEdit, "ComPortEdit");
    take(Label3, "Label3");
    take(AddrEdit, "AddrEdit");
    take(RowLabel, "RowLabel");
    take(RowEdit, "RowEdit");
    take(Button1, "Button1");
    take(CalcKoef, "CalcKoef");
    take(BitBtn1, "BitBtn1");
    take(ListView, "ListView");
    take(TabControl1, "TabControl1");
    take(RxDGCommon, "RxDGCommon");
    take(Panel2, "Panel2");
    take(WriteValueEdit, "WriteValueEdit");
    take(WriteValueEdit2, "WriteValueEdit2");
    take(WriteValueCB, "WriteValueCB");
    take(StatusBar1, "StatusBar1");

    CalcKoef->setVisible(false);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    TabControl1->Tabs->setGeometry(0, 0, TabControl1->width(), kTabBarHeight);
    for (QWidget* editor : {static_cast<QWidget*>(WriteValueEdit), static_cast<QWidget*>(WriteValueEdit2),
                            static_cast<QWidget*>(WriteValueCB)})
        editor->hide();
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setAutoFillBackground(true);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setMinimumWidth(50);
    StatusSimple = new QLabel(StatusBar1);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusSimple, 1);
}

void TParamFrm::BindHandlers() {
    connect(TabControl1->Tabs, &QTabBar::currentChanged, this,
            [this](int) { Guarded([this] { TabControl1Change(); }); });
    for (QSpinBox* spin : {ComPortEdit, AddrEdit, RowEdit})
        connect(spin, &QSpinBox::valueChanged, this, [this](int) { RowEditChange(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(CalcKoef, &QPushButton::clicked, this, [this] { Guarded([this] { CalcKoefClick(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    connect(ActionExit, &QAction::triggered, this, [this] { ActionExitExecute(); });
    connect(ListView, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current, QListWidgetItem* previous) {
                if (previous) ListViewSelectItem(previous, false);
                if (current) ListViewSelectItem(current, true);
            });
    RxDGCommon->OnDrawCell = [this](int c, int r, const TRect& rect, QPainter& painter) {
        RxDGCommonDrawCell(c, r, rect, painter);
    };
    RxDGCommon->OnColumnSized = [this] { RxDGCommonColumnSized(); };
    RxDGCommon->OnMouseMove = [this](QPoint p) { RxDGCommonMouseMove(p); };
    RxDGCommon->OnDblClick = [this](QPoint p) { RxDGCommonDblClick(p); };
    RxDGCommon->OnSelectCell = [this](int c, int r) { RxDGCommonSelectCell(c, r); };
    RxDGCommon->OnEnter = [this] { RxDGCommonEnter(); };
    for (QWidget* editor : {static_cast<QWidget*>(WriteValueEdit), static_cast<QWidget*>(WriteValueEdit2),
                            static_cast<QWidget*>(WriteValueCB)})
        editor->installEventFilter(this);
    for (TRxSpinEdit* edit : {WriteValueEdit, WriteValueEdit2})
        if (QLineEdit* line = edit->findChild<QLineEdit*>()) line->installEventFilter(this);
}

TParamFrm::~TParamFrm() {
    // A pass still running gets no more hand-overs (they give up at once),
    // so the timer can join its thread without the GUI thread serving it.
    stopping_.store(true);
    passStop_.store(true);
    loadStop_.store(true);
    {
        std::lock_guard lock(passMutex_);
        passRequested_ = false;
    }
    handOver_->Cancel();
    if (loader_.joinable()) loader_.join();
    delete OprosFonTimer;
    OprosFonTimer = nullptr;
    FormDestroy();
    if (ParamFrm == this) ParamFrm = nullptr;
}

void ShowParamWindow(TVM30* driver) {
    if (!ParamFrm) {
        QWidget* owner = app::MainWidget();
        ParamFrm = new TParamFrm(owner);
        if (!owner && QCoreApplication::instance()) {
            // Without a host window the application object owns the window.
            TParamFrm* window = ParamFrm;
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, window,
                             [window] { delete window; });
        }
    }
    if (!driver) return;
    const QPointer<TParamFrm> window = ParamFrm;
    // Asked for again while it is shown (the menu once more): the window
    // comes to the front and nothing else changes.
    if (window->isVisible()) {
        window->raise();
        window->activateWindow();
        return;
    }
    // No pass of an earlier showing may still read the driver replaced here.
    window->StopPass();
    window->Driver = driver;
    window->exec();
    // However the window was hidden, nothing of it uses the driver after
    // this call returns (the host polls the line again).
    if (window) window->StopPass();
}

void TParamFrm::RunOnGui(const std::function<void()>& work) { handOver_->Run(work); }

void TParamFrm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        if (ParamFrmHooks().ShowError) ParamFrmHooks().ShowError(this, QString::fromStdString(ErrorText(error)));
    }
}

void TParamFrm::SendColourMessage(std::uint32_t colour) {
    RunOnGui([this, colour] {
        TColourEvent message(colour);
        QCoreApplication::sendEvent(this, &message);
    });
}

bool TParamFrm::event(QEvent* event) {
    if (event->type() == kColourMessage) {
        const auto colour = static_cast<TColourEvent*>(event)->Colour;
        StatusColour = colour;
        QPalette palette = StatusBar1->palette();
        palette.setColor(QPalette::Window, ToQColor(colour));
        StatusBar1->setPalette(palette);
        return true;
    }
    return QDialog::event(event);
}

void TParamFrm::SetPanelText(const QString& text) { StatusPanel0->setText(text); }
void TParamFrm::ClearStatusTexts() {
    StatusPanel0->clear();
    StatusSimple->clear();
}
void TParamFrm::SetSimpleText(const QString& text) {
    StatusSimple->setText(text);
    emit SimpleTextChanged(text);
}

// The show event comes before the window is on screen and, for exec(),
// before it blocks the other windows: the page is loaded right after, once
// the window is modal, so nothing of the host runs beside the first load.
void TParamFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible()) Guarded([this] { FormShow(); });
        },
        Qt::QueuedConnection);
}

void TParamFrm::closeEvent(QCloseEvent* event) { QDialog::closeEvent(event); }

void TParamFrm::done(int result) {
    // A page load makes no exchange after the one in flight.
    loadStop_.store(true);
    FormClose();
    QDialog::done(result);
    StopPass();
}

void TParamFrm::StopPass() {
    OprosFonTimer->SetEnabled(false);
    passStop_.store(true);
    {
        std::lock_guard lock(passMutex_);
        passRequested_ = false;
        passPending_.store(false);
    }
    // A pass waiting for the GUI thread gives up at once; one in an exchange
    // ends after it. Meanwhile timers and other windows are served, user
    // input to this window waits.
    handOver_->Cancel();
    StopLoad();
    WaitUntil([this] { return OprosFonTimer->RunningTickThreads() == 0; });
    handOver_->Resume();
    Button1->setEnabled(true);
}

void TParamFrm::WaitUntil(const std::function<bool()>& over) {
    if (over()) return;
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [&over, &wait] {
        if (over()) wait.quit();
    });
    poll.start(kPassStopPollMs);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}

void TParamFrm::FormShow() {
    PrepareList();
    TabControl1Change();
}

void TParamFrm::FormClose() { ClearListView(); }

void TParamFrm::FormDestroy() {
    std::lock_guard lock(DriverLock);
    delete ParamList;
    ParamList = nullptr;
}

void TParamFrm::PrepareList() {
    ListView->clear();
    if (ParamList) return;
    try {
        ParamList = new CTRKParameters();
    } catch (...) {
        ListView->clear();
    }
}

void TParamFrm::ClearListView() { ListView->clear(); }

void TParamFrm::RowEditChange() {
    // Values read so far belong to the previous line, address or row.
    ForgetReadValues();
    StartReadAll();
}

void TParamFrm::Button1Click() { StartReadAll(); }

void TParamFrm::StartReadAll() {
    // A page load starts the pass when it ends.
    if (!isVisible() || pageLoading_) return;
    passStop_.store(false);
    passPending_.store(true);
    Button1->setEnabled(false);
    OprosFonTimer->SetEnabled(true);
}

void TParamFrm::ForgetReadValues() {
    if (!ParamList) return;
    // Value and ReadText change on the GUI thread only: no lock.
    for (int i = 0; i < ParamList->Count(); ++i) {
        CParameter* p = ParamList->Item(i);
        p->ReadText.clear();
        p->Value = 0;
        p->ValueRead = false;
    }
    RxDGCommon->viewport()->update();
}

void TParamFrm::CalcKoefClick() {
    // The dialog would talk on the line between the load's exchanges.
    if (pageLoading_) return;
    {
        // The dialog uses the driver; no pass may run meanwhile. The lock is
        // recursive, so the window's own handlers inside the dialog's loop
        // cannot block themselves.
        std::lock_guard lock(DriverLock);
        if (ParamFrmHooks().Calibrate)
            ParamFrmHooks().Calibrate(ComPortEdit->value(), AddrEdit->value(), RowEdit->value());
    }
    StartReadAll();
}

void TParamFrm::Timer1Timer() {
    SendColourMessage(kColourBtnFace);
    Timer1->stop();
}

void TParamFrm::ActionExitExecute() { close(); }

void TParamFrm::ListViewSelectItem(QListWidgetItem* item, bool) {
    if (!item) return;
    ChooseEditor(item->data(Qt::UserRole).toInt() + 1);
}

}  // namespace zarvik
