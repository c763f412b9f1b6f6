// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class StatusNotifierItem;

// The tray icon, in whatever tray the desktop has, whenever it has one: a StatusNotifierItem of
// our own once a host is there (its menu the host's own), else Qt's icon in an XEmbed tray. Qt
// decides once, when its first tray icon is made, which protocol that icon speaks; so it is made
// only once an XEmbed tray is there and no StatusNotifierItem host, and follows that tray from
// then on.
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(QObject *parent = nullptr);
    ~StatusItem() override;

    QIcon icon() const { return image_; }
    void setIcon(const QIcon &icon);
    QString toolTip() const { return toolTip_; }
    void setToolTip(const QString &toolTip);
    void setContextMenu(QMenu *menu);
    void show();
    // Where the icon is on the screen; invalid when the tray does not say.
    QRect geometry() const;
    // After show(): a tray of either kind is there.
    bool isTrayAvailable() const;
    // The icon is a StatusNotifierItem: its host draws the menu.
    bool isStatusNotifier() const { return item_ != nullptr; }

signals:
    void activated(QSystemTrayIcon::ActivationReason reason);
    // A tray may have come or gone; the item follows it before control returns to the event loop.
    void trayChanged();

private slots:
    void trayMayHaveChanged();

private:
    void watchForTrays();
    void makeStatusNotifierItem();
    void makeIcon();

    QIcon image_;
    QString toolTip_;
    QPointer<QMenu> menu_;
    std::unique_ptr<StatusNotifierItem> item_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    bool shown_ = false;
};
