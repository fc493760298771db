// The window's controls, its lifecycle, the status bar and the plain
// handlers. Reading, writing and the pass are in ParamFrameIO.cpp; the grid's
// drawing and the in-place editors in ParamFrameGrid.cpp.
#include "ui/ParamFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
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

class TColourEvent : public QEvent {
public:
    explicit TColourEvent(std::uint32_t colour) : QEvent(kColourMessage), Colour(colour) {}
    std::uint32_t Colour;
};

QColor ToQColor(std::uint32_t colour) {
    if (colour == kColourBtnFace) return QApplication::palette().color(QPalette::Button);
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QSpinBox* MakeSpin(QWidget* parent, int left, int top, int width, int height, int max) {
    auto* spin = new QSpinBox(parent);
    spin->setGeometry(left, top, width, height);
    spin->setRange(1, max);
    spin->setValue(1);
    return spin;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int left, int top, int width, int height, bool bold) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(left, top, width, height);
    if (bold) {
        QFont font = button->font();
        font.setBold(true);
        button->setFont(font);
    }
    return button;
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
    setWindowTitle(QString::fromUtf8(texts::kCaption));
    QFont formFont(QStringLiteral("MS Sans Serif"));
    formFont.setPixelSize(11);
    setFont(formFont);
    setFixedSize(817, 696);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(0, 0, 817, 677);
    Label1 = MakeLabel(Panel1, texts::kComPort, 8, 14);
    ComPortEdit = MakeSpin(Panel1, 96, 8, 89, 22, 32);
    Label3 = MakeLabel(Panel1, texts::kAddress, 200, 11);
    AddrEdit = MakeSpin(Panel1, 272, 8, 89, 22, 32);
    RowLabel = new QLabel(QString::fromUtf8(texts::kNozzleAddress), Panel1);
    RowLabel->setGeometry(388, 8, 86, 24);
    RowLabel->setWordWrap(true);
    RowEdit = MakeSpin(Panel1, 480, 8, 65, 22, 6);
    Button1 = MakeButton(Panel1, texts::kReadAll, 8, 49, 233, 25, true);
    CalcKoef = MakeButton(Panel1, texts::kCalcKoef, 400, 64, 241, 25, true);
    CalcKoef->setVisible(false);
    BitBtn1 = MakeButton(Panel1, texts::kClose, 680, 64, 121, 25, false);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    ListView = new QListWidget(Panel1);
    ListView->setGeometry(1, 80, 895, 0);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->hide();

    TabControl1 = new TTabControl(Panel1);
    TabControl1->setGeometry(1, 80, 815, 596);
    for (const char* caption : texts::kTabCaptions) TabControl1->Tabs->addTab(QString::fromUtf8(caption));
    TabControl1->Tabs->setGeometry(0, 0, 815, 24);
    TabControl1->Tabs->setCurrentIndex(0);

    RxDGCommon = new TRxDrawGrid(TabControl1);
    RxDGCommon->setGeometry(4, 24, 807, 568);
    RxDGCommon->SetColCount(5);
    RxDGCommon->SetRowCount(1);
    const int widths[5] = {38, 422, 122, 74, 72};
    for (int c = 0; c < 5; ++c) RxDGCommon->SetColWidth(c, widths[c]);

    Panel2 = new QWidget(this);
    Panel2->setGeometry(0, 677, 817, 0);
    WriteValueEdit = new TRxSpinEdit(Panel2);
    WriteValueEdit->setGeometry(96, 42, 121, 21);
    WriteValueEdit->hide();
    WriteValueEdit2 = new TRxSpinEdit(Panel2);
    WriteValueEdit2->setGeometry(224, 42, 121, 21);
    WriteValueEdit2->hide();
    WriteValueCB = new QComboBox(Panel2);
    WriteValueCB->setEditable(false);
    WriteValueCB->setGeometry(96, 42, 717, 21);
    WriteValueCB->hide();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setGeometry(0, 677, 817, 19);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setAutoFillBackground(true);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setMinimumWidth(50);
    StatusSimple = new QLabel(StatusBar1);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusSimple, 1);

    ActionExit = new QAction(QStringLiteral("ActionExit"), this);
    ActionExit->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::Key_Escape)});
    ActionExit->setShortcutContext(Qt::WindowShortcut);
    addAction(ActionExit);

    Timer1 = new QTimer(this);
    Timer1->setInterval(2000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(50);
    OprosFonTimer = new TFonTimer(this);
    OprosFonTimer->SetInterval(20);
    OprosFonTimer->SetThreadType(timer::ttFon);
    OprosFonTimer->SetOnTimer([this](TFonTimer*) { OprosFonTimerTimer(); });

    // The form's own names, so tools and tests find each control by them.
    setObjectName(QStringLiteral("ParamFrm"));
    const std::pair<QObject*, const char*> names[] = {
        {Panel1, "Panel1"},
        {Label1, "Label1"},
        {ComPortEdit, "ComPortEdit"},
        {Label3, "Label3"},
        {AddrEdit, "AddrEdit"},
        {RowLabel, "RowLabel"},
        {RowEdit, "RowEdit"},
        {Button1, "Button1"},
        {CalcKoef, "CalcKoef"},
        {BitBtn1, "BitBtn1"},
        {ListView, "ListView"},
        {TabControl1, "TabControl1"},
        {RxDGCommon, "RxDGCommon"},
        {Panel2, "Panel2"},
        {WriteValueEdit, "WriteValueEdit"},
        {WriteValueEdit2, "WriteValueEdit2"},
        {WriteValueCB, "WriteValueCB"},
        {StatusBar1, "StatusBar1"},
        {ActionExit, "ActionExit"},
        {Timer1, "Timer1"},
        {Timer2, "Timer2"},
        {OprosFonTimer, "OprosFonTimer"},
    };
    for (const auto& [object, name] : names) object->setObjectName(QString::fromLatin1(name));

    // Bindings.
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

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TParamFrm::~TParamFrm() {
    // A pass still running gets no more hand-overs (they give up at once),
    // so the timer can join its thread without the GUI thread serving it.
    stopping_.store(true);
    {
        std::lock_guard lock(passMutex_);
        passRequested_ = false;
    }
    handOver_->Cancel();
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
    ParamFrm->Driver = driver;
    ParamFrm->exec();
}

void TParamFrm::RunOnGui(const std::function<void()>& work) { handOver_->Run(work); }

void TParamFrm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        if (ParamFrmHooks().ShowError) ParamFrmHooks().ShowError(this, QString::fromUtf8(error.what()));
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
void TParamFrm::SetSimpleText(const QString& text) {
    StatusSimple->setText(text);
    emit SimpleTextChanged(text);
}

void TParamFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TParamFrm::closeEvent(QCloseEvent* event) { QDialog::closeEvent(event); }

void TParamFrm::done(int result) {
    FormClose();
    QDialog::done(result);
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

void TParamFrm::RowEditChange() { StartReadAll(); }
void TParamFrm::Button1Click() { StartReadAll(); }

void TParamFrm::StartReadAll() {
    Button1->setEnabled(false);
    OprosFonTimer->SetEnabled(true);
}

void TParamFrm::CalcKoefClick() {
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
