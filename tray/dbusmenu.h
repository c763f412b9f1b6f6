#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QHash>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

// An item and the items under it, as DBusMenu sends them: (ia{sv}av), each child a layout.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
};
// An item's properties: (ia{sv}).
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
// Names of properties an item no longer has: (ias).
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
// One of a host's events: (isvu).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuItemKeys)
Q_DECLARE_METATYPE(DBusMenuEvent)

// A QMenu over D-Bus (com.canonical.dbusmenu), for a tray host to draw as its own menu: labels
// exactly as the menu shows them, submenus kept, a host's click triggering the item, and the
// layout following the menu's changes.
class DBusMenu : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenu(QObject *parent = nullptr);

    void setMenu(QMenu *menu);
    // Publishes the object at `path` of the session bus.
    bool registerAt(const QString &path);

    uint version() const { return 3; }
    QString status() const { return QStringLiteral("normal"); }
    QString textDirection() const;
    QStringList iconThemePath() const { return {}; }

public slots:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList &propertyNames,
                                DBusMenuLayout &layout);
    Q_SCRIPTABLE QList<DBusMenuItem> GetGroupProperties(const QList<int> &ids,
                                                        const QStringList &propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString &name);
    Q_SCRIPTABLE void Event(int id, const QString &eventId, const QDBusVariant &data,
                            uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const QList<DBusMenuEvent> &events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors);

signals:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const QList<DBusMenuItem> &updatedProps,
                                             const QList<DBusMenuItemKeys> &removedProps);

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void scheduleLayoutUpdate();
    void renumber(QMenu &menu, QHash<QAction *, int> &ids, QHash<int, QPointer<QAction>> &items);
    int idOf(QAction *item);
    QAction *itemOf(int id) const;
    QVariantMap propertiesOf(QAction *item) const;
    DBusMenuLayout layoutOf(int id, QMenu *menu, int depth);
    bool trigger(int id, const QString &eventId);

    QPointer<QMenu> menu_;
    QHash<QAction *, int> ids_;
    QHash<int, QPointer<QAction>> items_;
    int lastId_ = 0;
    uint revision_ = 1;
    bool updatePending_ = false;
};
