// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/dbusmenu.h"

#include "tray/menuitem.h"

#include <QActionEvent>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QTimer>

namespace {

// Properties an item may have; those it lacks after a change are named as removed.
const QStringList kItemProperties{QStringLiteral("type"), QStringLiteral("label"),
                                  QStringLiteral("enabled"), QStringLiteral("children-display"),
                                  QStringLiteral("shortcut")};

// A key sequence as DBusMenu sends it: per key, the modifiers, then the key's portable name.
QList<QStringList> shortcutOf(const QKeySequence &sequence)
{
    QList<QStringList> keys;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination key = sequence[i];
        QStringList names;
        const Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
        for (const auto &[modifier, name] :
             {std::pair{Qt::MetaModifier, "Super"}, std::pair{Qt::ControlModifier, "Control"},
              std::pair{Qt::AltModifier, "Alt"}, std::pair{Qt::ShiftModifier, "Shift"},
              std::pair{Qt::KeypadModifier, "Num"}}) {
            if (modifiers & modifier)
                names << QLatin1String(name);
        }
        const QString keyName = QKeySequence(key.key()).toString(QKeySequence::PortableText);
        names << (keyName == QLatin1String("+")   ? QStringLiteral("plus")
                  : keyName == QLatin1String("-") ? QStringLiteral("minus")
                                                  : keyName);
        keys << names;
    }
    return keys;
}

} // namespace

static const QDBusArgument &operator<<(QDBusArgument &arg, const DBusMenuLayout &layout)
{
    arg.beginStructure();
    arg << layout.id << layout.properties << layout.children;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, DBusMenuLayout &layout)
{
    arg.beginStructure();
    arg >> layout.id >> layout.properties >> layout.children;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator<<(QDBusArgument &arg, const DBusMenuItem &item)
{
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, DBusMenuItem &item)
{
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator<<(QDBusArgument &arg, const DBusMenuItemKeys &keys)
{
    arg.beginStructure();
    arg << keys.id << keys.names;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, DBusMenuItemKeys &keys)
{
    arg.beginStructure();
    arg >> keys.id >> keys.names;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator<<(QDBusArgument &arg, const DBusMenuEvent &event)
{
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, DBusMenuEvent &event)
{
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

DBusMenu::DBusMenu(QObject *parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<DBusMenuLayout>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<QList<DBusMenuItem>>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<QList<DBusMenuItemKeys>>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<QList<DBusMenuEvent>>();
    qDBusRegisterMetaType<QList<QStringList>>();
}

void DBusMenu::setMenu(QMenu *menu)
{
    if (menu_)
        menu_->removeEventFilter(this);
    menu_ = menu;
    if (menu_)
        menu_->installEventFilter(this);
    rootChanged_ = true;
    scheduleUpdate();
}

bool DBusMenu::registerAt(const QString &path)
{
    return QDBusConnection::sessionBus().registerObject(
        path, this,
        QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals |
            QDBusConnection::ExportAllProperties);
}

QString DBusMenu::textDirection() const
{
    return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

// Every property of every item, whatever the host names: the menu is small.
uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList &,
                         DBusMenuLayout &layout)
{
    if (!knows(parentId)) {
        refuse(QStringLiteral("No menu item has the id %1").arg(parentId));
        return revision_;
    }
    layout = layoutOf(parentId, parentId == 0 ? menu_.data() : itemOf(parentId)->menu(),
                      recursionDepth, false);
    return revision_;
}

// Ids that name no item are left out, as Qt does.
QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int> &ids, const QStringList &)
{
    QList<DBusMenuItem> items;
    for (int id : ids) {
        if (knows(id))
            items.append({id, propertiesOf(id)});
    }
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString &name)
{
    const QVariant value = knows(id) ? propertiesOf(id).value(name) : QVariant();
    if (!knows(id))
        refuse(QStringLiteral("No menu item has the id %1").arg(id));
    else if (!value.isValid())
        refuse(QStringLiteral("Menu item %1 has no property \"%2\"").arg(id).arg(name));
    return QDBusVariant(value.isValid() ? value : QVariant(QString()));
}

void DBusMenu::Event(int id, const QString &eventId, const QDBusVariant &, uint)
{
    trigger(id, eventId);
}

QList<int> DBusMenu::EventGroup(const QList<DBusMenuEvent> &events)
{
    QList<int> idErrors;
    for (const DBusMenuEvent &event : events) {
        if (!trigger(event.id, event.eventId))
            idErrors.append(event.id);
    }
    return idErrors;
}

// A host about to draw a menu is the menu about to show, as when ZapRun draws it itself. The
// host hears of every change as it happens; only a submenu whose items came just now, as a
// menu may make them on its first show, needs the host to fetch it again.
bool DBusMenu::AboutToShow(int id)
{
    if (id == 0 && menu_)
        emit menu_->aboutToShow();
    return id != 0 && knows(id) && prepare(itemOf(id)->menu());
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors)
{
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (!knows(id))
            idErrors.append(id);
        else if (id != 0 && prepare(itemOf(id)->menu()))
            updatesNeeded.append(id);
    }
    return updatesNeeded;
}

// Whether the submenu, empty until now, made its items as it was about to show.
bool DBusMenu::prepare(QMenu *submenu)
{
    if (!submenu)
        return false;
    const bool empty = submenu->actions().isEmpty();
    emit submenu->aboutToShow();
    return empty && !submenu->actions().isEmpty();
}

bool DBusMenu::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::ActionAdded || type == QEvent::ActionRemoved) {
        if (watched == menu_)
            rootChanged_ = true;
        else if (auto *menu = qobject_cast<QMenu *>(watched))
            changedMenus_.append(menu);
        if (type == QEvent::ActionRemoved)
            removedItems_.append(static_cast<QActionEvent *>(event)->action());
        scheduleUpdate();
    } else if (type == QEvent::ActionChanged) {
        changedItems_.append(static_cast<QActionEvent *>(event)->action());
        scheduleUpdate();
    }
    return QObject::eventFilter(watched, event);
}

// A rebuild of the menu changes many items at once: the host hears of it once, after it.
void DBusMenu::scheduleUpdate()
{
    if (updatePending_)
        return;
    updatePending_ = true;
    QTimer::singleShot(0, this, &DBusMenu::sendUpdate);
}

// A change of the root's items is a new layout from the root; otherwise each changed submenu
// gets a new layout of its own and each changed item its properties.
void DBusMenu::sendUpdate()
{
    updatePending_ = false;
    ++revision_;
    if (rootChanged_) {
        renumberAll();
        emit LayoutUpdated(revision_, 0);
    } else {
        sendChangedMenus();
        sendChangedProperties();
    }
    rootChanged_ = false;
    changedMenus_.clear();
    changedItems_.clear();
    removedItems_.clear();
}

// Items keep their ids while they stay; items gone are forgotten.
void DBusMenu::renumberAll()
{
    const QHash<QAction *, int> known = std::exchange(ids_, {});
    const QHash<int, QPointer<QAction>> items = std::exchange(items_, {});
    if (!menu_)
        return;
    for (QAction *item : menu_->actions()) {
        const int id = known.value(item);
        if (id != 0 && items.value(id) == item) {
            ids_.insert(item, id);
            items_.insert(id, item);
        }
    }
    renumber(*menu_);
}

// Gives every item of `menu` and its submenus an id, and watches the submenus.
void DBusMenu::renumber(QMenu &menu)
{
    for (QAction *item : menu.actions()) {
        idOf(item);
        if (QMenu *submenu = item->menu()) {
            submenu->installEventFilter(this);
            renumber(*submenu);
        }
    }
}

void DBusMenu::sendChangedMenus()
{
    for (QAction *item : std::as_const(removedItems_))
        items_.remove(ids_.take(item));
    QSet<QMenu *> sent;
    for (const QPointer<QMenu> &menu : std::as_const(changedMenus_)) {
        const int id = menu ? ids_.value(menu->menuAction()) : 0;
        if (id == 0 || sent.contains(menu))
            continue;
        sent.insert(menu);
        renumber(*menu);
        emit LayoutUpdated(revision_, id);
    }
}

void DBusMenu::sendChangedProperties()
{
    QList<DBusMenuItem> updated;
    QList<DBusMenuItemKeys> removed;
    QSet<int> sent;
    for (const QPointer<QAction> &item : std::as_const(changedItems_)) {
        const int id = item ? ids_.value(item) : 0;
        if (id == 0 || sent.contains(id))
            continue;
        sent.insert(id);
        const QVariantMap properties = propertiesOf(item);
        updated.append({id, properties});
        DBusMenuItemKeys gone{id, {}};
        for (const QString &name : kItemProperties) {
            if (!properties.contains(name))
                gone.names << name;
        }
        removed.append(gone);
    }
    if (!updated.isEmpty())
        emit ItemsPropertiesUpdated(updated, removed);
}

// A new item at the address of one deleted gets a new id.
int DBusMenu::idOf(QAction *item)
{
    const int known = ids_.value(item);
    if (known != 0 && items_.value(known) == item)
        return known;
    ids_.insert(item, ++lastId_);
    items_.insert(lastId_, item);
    return lastId_;
}

QAction *DBusMenu::itemOf(int id) const
{
    return items_.value(id);
}

// The root (id 0) is the menu itself.
QVariantMap DBusMenu::propertiesOf(int id) const
{
    if (id == 0)
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    return propertiesOf(itemOf(id));
}

QVariantMap DBusMenu::propertiesOf(QAction *item) const
{
    QVariantMap properties{{QStringLiteral("visible"), item->isVisible()}};
    if (item->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return properties;
    }
    const QMenu *submenu = item->menu();
    properties.insert(QStringLiteral("label"),
                      exportedMenuText(submenu ? submenu->title() : menuItemTitle(item)));
    properties.insert(QStringLiteral("enabled"), item->isEnabled());
    if (submenu)
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (!item->shortcut().isEmpty())
        properties.insert(QStringLiteral("shortcut"),
                          QVariant::fromValue(shortcutOf(item->shortcut())));
    return properties;
}

// A negative depth means all levels. A submenu that makes its items on its first show is sent
// empty to a host that asks for it by its own id, until the host says it is about to show it, as
// Qt's own adaptor sends a menu filled on aboutToShow: lxqt-panel's importer asks for every
// submenu as the item registers, and making them all would cost what making them late saves. A
// host that reads it through its parent gets its items: GNOME's extension reads the whole tree
// and opens no submenu that has none. Either way the host need not hear of them as a change.
DBusMenuLayout DBusMenu::layoutOf(int id, QMenu *menu, int depth, bool throughParent)
{
    DBusMenuLayout layout{id, propertiesOf(id), {}};
    if (!menu || depth == 0)
        return layout;
    if (throughParent && menu->actions().isEmpty()) {
        menu->removeEventFilter(this);
        prepare(menu);
        menu->installEventFilter(this);
    }
    for (QAction *item : menu->actions()) {
        const int childId = idOf(item);
        layout.children.append(QDBusVariant(QVariant::fromValue(
            layoutOf(childId, item->menu(), depth < 0 ? -1 : depth - 1, true))));
    }
    return layout;
}

// Queued: the host's call is answered at once, however long the item's work takes.
bool DBusMenu::trigger(int id, const QString &eventId)
{
    QAction *item = itemOf(id);
    if (!item)
        return false;
    if (eventId == QLatin1String("clicked") && item->isEnabled() && !item->menu())
        QMetaObject::invokeMethod(item, &QAction::trigger, Qt::QueuedConnection);
    return true;
}

// The caller gets an error in place of the answer; a call from within gets the default.
void DBusMenu::refuse(const QString &message)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, message);
}
