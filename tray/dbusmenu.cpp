#include "tray/dbusmenu.h"

#include "tray/menuitem.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

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
}

void DBusMenu::setMenu(QMenu *menu)
{
    if (menu_)
        menu_->removeEventFilter(this);
    menu_ = menu;
    if (menu_)
        menu_->installEventFilter(this);
    scheduleLayoutUpdate();
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
    QAction *parent = itemOf(parentId);
    layout = layoutOf(parentId,
                      parentId == 0 ? menu_.data()
                      : parent      ? parent->menu()
                                    : nullptr,
                      recursionDepth);
    return revision_;
}

QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int> &ids, const QStringList &)
{
    QList<DBusMenuItem> items;
    for (int id : ids) {
        if (QAction *item = itemOf(id))
            items.append({id, propertiesOf(item)});
    }
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString &name)
{
    QAction *item = itemOf(id);
    return QDBusVariant(item ? propertiesOf(item).value(name) : QVariant());
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

// The layout is sent whole whenever it changes, so there is never anything to update.
bool DBusMenu::AboutToShow(int)
{
    return false;
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors)
{
    for (int id : ids) {
        if (id != 0 && !itemOf(id))
            idErrors.append(id);
    }
    return {};
}

bool DBusMenu::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::ActionAdded || type == QEvent::ActionRemoved ||
        type == QEvent::ActionChanged)
        scheduleLayoutUpdate();
    return QObject::eventFilter(watched, event);
}

// A rebuild of the menu changes many items at once: the host hears of it once, after it.
void DBusMenu::scheduleLayoutUpdate()
{
    if (updatePending_)
        return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        updatePending_ = false;
        QHash<QAction *, int> ids;
        QHash<int, QPointer<QAction>> items;
        if (menu_)
            renumber(*menu_, ids, items);
        ids_ = std::move(ids);
        items_ = std::move(items);
        emit LayoutUpdated(++revision_, 0);
    });
}

// Items keep their ids while they stay; items gone are forgotten. Submenus are watched too.
void DBusMenu::renumber(QMenu &menu, QHash<QAction *, int> &ids,
                        QHash<int, QPointer<QAction>> &items)
{
    for (QAction *item : menu.actions()) {
        const int id = idOf(item);
        ids.insert(item, id);
        items.insert(id, item);
        if (QMenu *submenu = item->menu()) {
            submenu->installEventFilter(this);
            renumber(*submenu, ids, items);
        }
    }
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
    return properties;
}

// The root (id 0) is the menu itself; recursionDepth -1 means all levels.
DBusMenuLayout DBusMenu::layoutOf(int id, QMenu *menu, int depth)
{
    DBusMenuLayout layout{id, {}, {}};
    if (id == 0)
        layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    else if (QAction *item = itemOf(id))
        layout.properties = propertiesOf(item);
    if (!menu || depth == 0)
        return layout;
    for (QAction *item : menu->actions()) {
        const int childId = idOf(item);
        layout.children.append(
            QDBusVariant(QVariant::fromValue(layoutOf(childId, item->menu(), depth - 1))));
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
