// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tray/dbusmenu.h"

#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

// A picture as StatusNotifierItem sends it: (iiay), ARGB32 in network byte order.
struct StatusNotifierImage {
    int width = 0;
    int height = 0;
    QByteArray data;
};
using StatusNotifierImages = QList<StatusNotifierImage>;
// The tooltip: (sa(iiay)ss), an icon name, its pictures, a title and a text.
struct StatusNotifierToolTip {
    QString iconName;
    StatusNotifierImages images;
    QString title;
    QString text;
};
Q_DECLARE_METATYPE(StatusNotifierImage)
Q_DECLARE_METATYPE(StatusNotifierToolTip)

// A tray icon over D-Bus (org.kde.StatusNotifierItem) whose menu is the host's own, on any
// click: Id is the desktop file's name, Title the application's display name. Registers with
// the StatusNotifierWatcher, and again whenever the watcher's name gets a new owner.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(StatusNotifierImages IconPixmap READ iconPixmap)
    Q_PROPERTY(StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)
    // Hosts ask for these too, and take an error for a missing item.
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(StatusNotifierImages OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(StatusNotifierImages AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ none)

public:
    explicit StatusNotifierItem(QObject *parent = nullptr);
    ~StatusNotifierItem() override;

    void show();
    void setIcon(const QIcon &icon);
    void setToolTip(const QString &toolTip);
    void setMenu(QMenu *menu) { menu_.setMenu(menu); }
    // Told of a host's clicks (not a signal: every signal of the item would go on the bus).
    void setActivationHandler(std::function<void(QSystemTrayIcon::ActivationReason)> handler)
    {
        activated_ = std::move(handler);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return icon_.name(); }
    StatusNotifierImages iconPixmap() const;
    StatusNotifierToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menuPath() const;
    QString none() const { return {}; }
    StatusNotifierImages noImages() const { return {}; }

public slots:
    // Hosts that ignore ItemIsMenu still call these.
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString &orientation);

signals:
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString &status);
    Q_SCRIPTABLE void NewTitle();

private:
    void registerWithWatcher();

    QIcon icon_;
    QString toolTip_;
    DBusMenu menu_;
    std::function<void(QSystemTrayIcon::ActivationReason)> activated_;
};
