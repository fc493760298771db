#include "ui/MenuEntry.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <exception>

#include "AppWidget.h"
#include "ErrorText.h"
#include "ui/ParamFrame.h"
#include "zarvik/exceptions.h"

namespace zarvik {

bool MenuPending = true;

namespace {

constexpr char kNoParentItem[] = "Не задан пункт главного меню программы";
constexpr char kNoFactory[] = "Не задана функция создания пункта меню";
constexpr char kNoItemCreated[] = "Пункт меню не создан";

// The first direct sub-item captioned exactly `caption`, or null.
QAction* FindSubItem(QAction* parent, const QString& caption) {
    QMenu* menu = parent->menu();
    if (menu == nullptr) return nullptr;  // an item without sub-items
    for (QAction* item : menu->actions())
        if (item->text() == caption) return item;
    return nullptr;
}

}  // namespace

QAction* NewMenuItem(const QString& caption, const QString& hint, int helpContext, QAction* parent, std::int32_t index,
                     TVM30* driver, const QKeySequence& shortcut, TMenuItemFactory factory) {
    if (factory == nullptr) RaiseWindowError(kNoFactory);
    QAction* item = factory(parent, index);
    if (item == nullptr) RaiseWindowError(kNoItemCreated);
    item->setText(caption);
    item->setStatusTip(hint);
    item->setToolTip(hint);
    item->setWhatsThis(QString());
    item->setProperty(kHelpContextProperty, helpContext);
    item->setShortcut(shortcut);
    QObject::connect(item, &QAction::triggered, item, [driver] { ParamMenuClick(driver); });
    return item;
}

void InsertMenuEntry(TVM30& driver, QAction* parent, TMenuItemFactory factory) {
    if (!MenuPending) return;
    if (parent == nullptr) RaiseWindowError(kNoParentItem);
    if (QAction* host = FindSubItem(parent, QString::fromUtf8(kHostMenuCaption))) {
        const QString caption = QString::fromUtf8(kMenuEntryCaption);
        NewMenuItem(caption, caption, 0, host, -1, &driver, QKeySequence(), factory);
    }
    MenuPending = false;
}

void ParamMenuClick(TVM30* driver) {
    try {
        ShowParamWindow(driver);
    } catch (const std::exception& error) {
        QMessageBox::critical(app::MainWidget(), QApplication::applicationDisplayName(),
                              QString::fromStdString(ErrorText(error)));
    }
}

}  // namespace zarvik
