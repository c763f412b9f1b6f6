#include "platform/appstate.h"

#include <QApplication>

AppState &AppState::shared()
{
    static AppState *state = new AppState; // lives with the process, like the application
    return *state;
}

AppState::AppState()
{
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &AppState::stateChanged);
}

void AppState::stateChanged(Qt::ApplicationState state)
{
    if (state == Qt::ApplicationActive)
        emit didBecomeActive();
    else if (state == Qt::ApplicationInactive)
        emit didResignActive();
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
        if ((type == Qt::Window || type == Qt::Dialog) && widget != mainWindow_)
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
    for (QWidget *window : windows())
        window->hide();
    hidden_ = true;
    emit didHide();
}

void AppState::activateIgnoringOtherApps(QWidget *window)
{
    const bool wasActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    makeKeyAndOrderFront(window);
    if (wasActive)
        emit didBecomeActive();
}

void AppState::orderFront(QWidget *window)
{
    window->show();
    window->raise();
}

void AppState::makeKeyAndOrderFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    orderFront(window);
    window->activateWindow();
}
