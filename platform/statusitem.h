#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

// The tray icon, in whatever tray the desktop has, whenever it has one. Qt decides once, when the
// first tray icon is made, whether to speak StatusNotifierItem over D-Bus; so the icon is made
// only once a tray of either kind is there, and Qt follows that tray's restarts from then on.
// Over D-Bus the host draws the menu from an exported copy whose labels DBusMenu reads exactly.
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
    QMenu *contextMenu() const { return menu_; }
    void show();
    // Where the icon is on the screen; invalid when the tray does not say.
    QRect geometry() const;
    // After show(): a tray of either kind is there.
    bool isTrayAvailable() const;
    // The icon is a StatusNotifierItem: its host draws the menu.
    bool isStatusNotifier() const { return statusNotifier_; }

signals:
    void activated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void trayMayHaveChanged();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void watchForTrays();
    void makeIcon();
    void scheduleExport();
    void exportMenu();
    void copyItems(QMenu &menu, QMenu &copy);

    QIcon image_;
    QString toolTip_;
    QPointer<QMenu> menu_;
    std::unique_ptr<QMenu> exported_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    bool shown_ = false;
    bool statusNotifier_ = false;
    bool exportPending_ = false;
};
