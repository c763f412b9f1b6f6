// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/appstate.h"

#include "platform/focusrequest.h"

#include <QApplication>
#include <QWindow>

AppState &AppState::shared()
{
    static AppState *state = new AppState; // lives with the process, like the application
    return *state;
}

AppState::AppState()
{
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &AppState::followFocus);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &AppState::followFocus);
    // Connected first, so that what the hide hid is back before anybody else hears of it.
    connect(this, &AppState::didBecomeActive, this, &AppState::unhide);
}

// Opening the tray menu gives the menu the keyboard, and Qt calls that active; so does the
// "Error!" alert. Neither is the user switching to ZapRun: only focus in one of its windows
// is, and a popup or alert opened while ZapRun is active keeps it active.
void AppState::followFocus()
{
    bool active = false;
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        active = focusIsInAWindow() || active_;
    if (active == active_)
        return;
    active_ = active;
    if (active)
        emit didBecomeActive();
    else
        emit didResignActive();
}

bool AppState::focusIsInAWindow()
{
    const QWindow *focus = QGuiApplication::focusWindow();
    return focus && focus->isVisible() && focus->type() != Qt::Popup &&
           focus->type() != Qt::ToolTip && focus->modality() == Qt::NonModal && // an alert
           !focus->flags().testFlag(Qt::BypassWindowManagerHint); // the tray icon's own window
}

void AppState::setMainWindow(QWidget *window)
{
    mainWindow_ = window;
}

QList<QWidget *> AppState::windows() const
{
    QList<QWidget *> result;
    if (mainWindow_)
        result.append(mainWindow_);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = widget->windowType();
        // A window that bypasses the window manager is no window of the desktop's: above all
        // the XEmbed tray icon (a Qt::Window too), which must stay when the windows are hidden.
        if ((type == Qt::Window || type == Qt::Dialog) && widget != mainWindow_ &&
            !widget->windowFlags().testFlag(Qt::BypassWindowManagerHint))
            result.append(widget);
    }
    return result;
}

bool AppState::hasVisibleWindows() const
{
    const QList<QWidget *> all = windows();
    return std::any_of(all.begin(), all.end(), [](QWidget *w) { return w->isVisible(); });
}

void AppState::hide()
{
    if (hidden_ && !hasVisibleWindows())
        return;
    for (QWidget *window : windows()) {
        if (!window->isVisible())
            continue;
        window->hide();
        hiddenWindows_.append(window);
    }
    hidden_ = true;
    emit didHide();
    resignActive();
}

// With no window left the user is elsewhere, whatever Qt has yet to report: the next activation
// (a "show main" request included) is an arrival, and takes the clipboard as it then is.
void AppState::resignActive()
{
    if (!active_)
        return;
    active_ = false;
    emit didResignActive();
}

// The windows come back without taking the focus: the activation that follows decides which
// window is key.
void AppState::unhide()
{
    if (!hidden_)
        return;
    hidden_ = false;
    for (const QPointer<QWidget> &window : std::exchange(hiddenWindows_, {})) {
        if (!window)
            continue;
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void AppState::activateIgnoringOtherApps(QWidget *window)
{
    const bool wasActive = active_;
    makeKeyAndOrderFront(window);
    if (wasActive)
        emit didBecomeActive();
}

// On Wayland only the compositor brings a window forward, and then with the focus.
void AppState::orderFront(QWidget *window)
{
    window->show();
    window->raise();
    requestFocusFromCompositor(window);
}

void AppState::makeKeyAndOrderFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    orderFront(window);
    window->activateWindow();
}
