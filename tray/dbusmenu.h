// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSet>
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
// exactly as the menu shows them, submenus and shortcuts kept, a host's click triggering the
// item. A host hears only what changed: the layout of the submenu whose items changed, the
// properties of an item that changed. A call naming no item or property is answered an error.
class DBusMenu : public QObject, protected QDBusContext {
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

    uint version() const { return 4; }
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
    void scheduleUpdate();
    void sendUpdate();
    void renumberAll();
    void renumber(QMenu &menu);
    void sendChangedMenus();
    void sendChangedProperties();
    int idOf(QAction *item);
    QAction *itemOf(int id) const;
    bool knows(int id) const { return id == 0 || itemOf(id); }
    QVariantMap propertiesOf(int id) const;
    QVariantMap propertiesOf(QAction *item) const;
    bool prepare(QMenu *submenu);
    DBusMenuLayout layoutOf(int id, QMenu *menu, int depth, bool throughParent);
    bool trigger(int id, const QString &eventId);
    void refuse(const QString &message);

    QPointer<QMenu> menu_;
    QHash<QAction *, int> ids_;
    QHash<int, QPointer<QAction>> items_;
    int lastId_ = 0;
    uint revision_ = 1;
    bool updatePending_ = false;
    // What changed since the host was last told: menus whose items came or went (the root
    // among them means everything), items whose properties changed, items gone.
    QList<QPointer<QMenu>> changedMenus_;
    QList<QPointer<QAction>> changedItems_;
    QList<QAction *> removedItems_; // keys only: they may be gone
    bool rootChanged_ = false;
};
