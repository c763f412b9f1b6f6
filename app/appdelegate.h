#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "platform/statusitem.h"

#include <memory>

class Defaults;

// The tray agent: the "zR" icon, its menu of scripts, and running the chosen one.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(Defaults &defaults, QObject *parent = nullptr);
    ~AppDelegate() override;

    QMenu *menu() const { return menu_.get(); }
    StatusItem &statusItem() { return statusItem_; }

    void applicationDidFinishLaunching();
    void defaultsChanged();
    void applicationWillTerminate();
    void showMainView();
    void script(const QString &command);
    void selectScript();
    QStringList returnAllNames() const;
    QStringList returnAllScripts() const;
    void constructMenu();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void defaultsFailedToSave(const QString &file, const QString &reason);

private:
    void addFixedItems();
    void addScriptItems(const QStringList &names);
    void replaceScriptItems(const QStringList &names);
    bool replaceInPages(const QStringList &names);
    void removePage(qsizetype page);
    void titlePages();
    void replaceChangedStretch(QMenu &menu, qsizetype first, const QStringList &shown,
                               const QStringList &names);
    void addScriptItem(QMenu &menu, const QString &name, QAction *before = nullptr);
    void statusItemActivated(QSystemTrayIcon::ActivationReason reason);

    static constexpr qsizetype kFixedItems = 3; // "Preferences", "Quit ZapRun", a separator
    // Qt checks every item put into a menu against the menu's others, so filling one menu with
    // N items costs N^2: beyond this many names, they go into submenus of about this many each.
    static constexpr qsizetype kNamesPerMenu = 500;

    Defaults &defaults_;
    StatusItem statusItem_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QAction> highlightedItem_;
    bool running_ = false;
    QString runningName_; // the script the running state names
    QStringList shownNames_;
    QList<QMenu *> pages_; // the submenus of names, when there are that many
};
