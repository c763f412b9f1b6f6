// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

// The application as one thing that becomes active, resigns and hides, over Qt's windows.
class AppState : public QObject {
    Q_OBJECT

public:
    static AppState &shared();

    // The window that comes first in windows(): the one the desktop should bring back.
    void setMainWindow(QWidget *window);
    // Top-level windows (no menus, popups or the tray icon), the main window first.
    QList<QWidget *> windows() const;
    bool hasVisibleWindows() const;

    // Hides every window, then notifies didHide once; an application already hidden stays quiet.
    // Becoming active again shows what the hide hid.
    void hide();
    // Shows, raises and focuses the window; becoming active follows through didBecomeActive,
    // at once when the application already is active and so will not report a change.
    void activateIgnoringOtherApps(QWidget *window);
    static void orderFront(QWidget *window);
    static void makeKeyAndOrderFront(QWidget *window);

signals:
    void didBecomeActive();
    void didResignActive();
    void didHide();

private:
    AppState();
    void followFocus();
    void unhide();
    void resignActive();
    static bool focusIsInAWindow();

    QPointer<QWidget> mainWindow_;
    bool active_ = false;
    bool hidden_ = false;
    QList<QPointer<QWidget>> hiddenWindows_;
};
