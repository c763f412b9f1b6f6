#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "tray/statusitem.h"

#include <memory>

class Alert;
class Defaults;

// The tray agent: the "zR" icon, its menu of scripts, and running the chosen one.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Failures are shown through alert, which must outlive this delegate.
    AppDelegate(Defaults &defaults, Alert &alert, QObject *parent = nullptr);
    ~AppDelegate() override;

    QMenu *menu() const { return menu_.get(); }
    StatusItem &statusItem() { return statusItem_; }

    void applicationDidFinishLaunching();
    void defaultsChanged();
    void showMainView();
    void script(const QString &command);
    void selectScript();
    QStringList returnAllNames() const;
    QStringList returnAllScripts() const;
    void constructMenu();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void defaultsFailedToSave(const QString &file, const QString &reason);

    // Deliberately nothing: every change is stored when it is made, so quitting saves nothing.
    void applicationWillTerminate();

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
    Alert &alert_;
    StatusItem statusItem_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QAction> highlightedItem_;
    bool running_ = false;
    QString runningName_; // the script the running state names
    QStringList shownNames_;
    QList<QMenu *> pages_; // the submenus of names, when there are that many
};
