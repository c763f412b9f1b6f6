// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include "store/stringarray.h"
#include "tray/tray.h"

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

    QMenu *menu() const { return scriptMenu_->menu(); }
    StatusItem &statusItem() { return statusItem_; }

    void applicationDidFinishLaunching();
    void defaultsChanged();
    void showMainView();
    void script(const QString &command);
    void selectScript(qsizetype entry, const QString &chosen);
    QStringList returnAllNames() const;
    StringArray returnAllScripts() const;
    void constructMenu();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void defaultsFailedToSave(const QString &file, const QString &reason);

    // Deliberately nothing: every change is stored when it is made, so quitting saves nothing.
    void applicationWillTerminate();

private:
    void statusItemActivated(QSystemTrayIcon::ActivationReason reason);

    Defaults &defaults_;
    Alert &alert_;
    StatusItem statusItem_;
    std::unique_ptr<ScriptMenu> scriptMenu_;
    bool running_ = false;
    QString runningName_; // the script the running state names
};
