// Operation 24 against a host menu made of QActions: a root item whose menu
// holds the host's top-level items, each a sub-menu.
#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "library/DriverObject.h"
#include "support/FakeDispenser.h"
#include "support/FakePortManager.h"
#include "ui/MenuEntry.h"
#include "ui/ParamFrame.h"
#include "zarvik/exceptions.h"

using zarvik::MenuPending;
using zarvik::testing::FakeDispenser;
using zarvik::testing::FakePortManager;

namespace {

// What the host's factory saw, and how it should behave next.
struct FactoryLog {
    QList<QAction*> parents;
    QList<int> indexes;
    bool failNext = false;
    bool returnNull = false;
} g_factory;

// The host's factory: appends a new item to the parent's sub-menu.
QAction* HostFactory(QAction* parent, std::int32_t index) {
    g_factory.parents << parent;
    g_factory.indexes << index;
    if (g_factory.failNext) {
        g_factory.failNext = false;
        throw std::runtime_error("host menu refused the item");
    }
    if (g_factory.returnNull) return nullptr;
    auto* item = new QAction(parent->menu());
    parent->menu()->addAction(item);
    return item;
}

// A root item whose sub-items carry the given captions.
struct HostMenu {
    std::unique_ptr<QMenu> root = std::make_unique<QMenu>();
    explicit HostMenu(const QStringList& captions) {
        for (const QString& caption : captions) root->addMenu(caption);
    }
    QAction* parent() const { return root->menuAction(); }
    QAction* item(int i) const { return root->actions().at(i); }
    // Sub-items the driver's entry could have landed in.
    int EntriesUnder(int i) const { return item(i)->menu()->actions().size(); }
};

}  // namespace

class MenuEntryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakePortManager> port_;
    std::unique_ptr<FakeDispenser> dispenser_;
    std::unique_ptr<zarvik::TVM30> driver_;

    void Insert(const HostMenu& menu) { zarvik::InsertMenuEntry(*driver_, menu.parent(), &HostFactory); }

private slots:
    void init() {
        MenuPending = true;
        g_factory = FactoryLog{};
        port_ = std::make_unique<FakePortManager>();
        dispenser_ = std::make_unique<FakeDispenser>();
        port_->responder = [d = dispenser_.get()](const std::uint8_t* f, std::size_t n, std::uint8_t* r,
                                                  std::size_t c) { return d->Respond(f, n, r, c); };
        driver_ = std::make_unique<zarvik::TVM30>(0, port_.get());
    }

    void findsHostItem_data() {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("match");  // -1: none
        QTest::newRow("second of three") << QStringList{"&Файл", "&ТРК", "&Справка"} << 1;
        QTest::newRow("no ampersand") << QStringList{"&Файл", "ТРК"} << -1;
        QTest::newRow("lower case") << QStringList{"&трк", "&Справка"} << -1;
        QTest::newRow("trailing blank") << QStringList{"&ТРК "} << -1;
        QTest::newRow("two matches: the first") << QStringList{"&Файл", "&ТРК", "&ТРК"} << 1;
        QTest::newRow("no sub-items") << QStringList{} << -1;
    }
    void findsHostItem() {
        QFETCH(QStringList, captions);
        QFETCH(int, match);
        HostMenu menu(captions);
        Insert(menu);

        QVERIFY(!MenuPending);
        QCOMPARE(g_factory.parents.size(), match < 0 ? 0 : 1);
        for (int i = 0; i < captions.size(); ++i) QCOMPARE(menu.EntriesUnder(i), i == match ? 1 : 0);
        if (match < 0) return;
        QCOMPARE(g_factory.parents.first(), menu.item(match));
        QCOMPARE(g_factory.indexes.first(), -1);

        QAction* entry = menu.item(match)->menu()->actions().first();
        QCOMPARE(entry->text(), QStringLiteral("Настройка ТРК Зенто-М"));
        QCOMPARE(entry->statusTip(), entry->text());
        QCOMPARE(entry->toolTip(), entry->text());
        QCOMPARE(entry->property(zarvik::kHelpContextProperty), QVariant(0));
        QVERIFY(entry->shortcut().isEmpty());
    }

    void onlyTheFirstCallInserts_data() {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<int>("factoryCalls");
        QTest::newRow("inserted, then called again") << QStringList{"&ТРК"} << 1;
        QTest::newRow("no match, then a match") << QStringList{"&Файл"} << 0;
    }
    void onlyTheFirstCallInserts() {
        QFETCH(QStringList, first);
        QFETCH(int, factoryCalls);
        HostMenu one(first);
        Insert(one);
        HostMenu two({"&ТРК"});
        Insert(two);
        // Another driver object gets nothing either.
        zarvik::TVM30 other(0, port_.get());
        zarvik::InsertMenuEntry(other, two.parent(), &HostFactory);
        QCOMPARE(g_factory.parents.size(), factoryCalls);
        QCOMPARE(two.EntriesUnder(0), 0);
    }

    void errorsLeaveTheEntryPending_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("factory raises") << 0;
        QTest::newRow("factory returns no item") << 1;
        QTest::newRow("no parent item") << 2;
        QTest::newRow("no factory") << 3;
    }
    void errorsLeaveTheEntryPending() {
        QFETCH(int, fault);
        HostMenu menu({"&Файл", "&ТРК"});
        g_factory.failNext = fault == 0;
        g_factory.returnNull = fault == 1;
        bool raised = false;
        try {
            zarvik::InsertMenuEntry(*driver_, fault == 2 ? nullptr : menu.parent(),
                                    fault == 3 ? nullptr : &HostFactory);
        } catch (const std::exception&) {
            raised = true;
        }
        QVERIFY(raised);
        QVERIFY(MenuPending);

        // The next call tries again and succeeds.
        g_factory.returnNull = false;
        const int before = menu.EntriesUnder(1);
        Insert(menu);
        QVERIFY(!MenuPending);
        QCOMPARE(menu.EntriesUnder(1), before + 1);
        QCOMPARE(menu.item(1)->menu()->actions().last()->text(), QStringLiteral("Настройка ТРК Зенто-М"));
    }

    void clickingTwiceShowsOneWindowForTheInsertingDriver() {
        HostMenu menu({"&ТРК"});
        Insert(menu);
        zarvik::TVM30 later(0, port_.get());
        zarvik::DriverObject = &later;  // a later factory call changes nothing here
        QAction* entry = menu.item(0)->menu()->actions().first();

        QList<zarvik::TParamFrm*> windows;
        QList<zarvik::TVM30*> drivers;
        for (int click = 0; click < 2; ++click) {
            QTimer::singleShot(0, this, [&] {
                QVERIFY(zarvik::ParamFrm != nullptr && zarvik::ParamFrm->isVisible());
                windows << zarvik::ParamFrm;
                drivers << zarvik::ParamFrm->Driver;
                zarvik::ParamFrm->reject();
            });
            entry->trigger();  // returns when the modal window closed
        }
        zarvik::DriverObject = nullptr;
        QCOMPARE(windows.size(), 2);
        QCOMPARE(windows[0], windows[1]);
        QCOMPARE(drivers, (QList<zarvik::TVM30*>{driver_.get(), driver_.get()}));
        QVERIFY(!zarvik::ParamFrm->isVisible());
    }
};

QTEST_MAIN(MenuEntryTest)
#include "MenuEntryTest.moc"
