// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appdelegate.h"

#include "platform/alert.h"
#include "platform/appstate.h"
#include "platform/interpreter.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QApplication>

namespace {

constexpr qsizetype kTitledNameChars = 60;

// A window title names the script on one line, however long or odd its name.
QString failedTitle(const QString &name)
{
    QString shown = name.left(kTitledNameChars);
    if (shown.size() < name.size())
        shown = (shown.back().isHighSurrogate() ? shown.chopped(1) : shown) + QStringLiteral("…");
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return QStringLiteral("ZapRun: “%1” failed").arg(shown);
}

// The entry a menu item stands for: its own place while the name there is still its title (the
// names may have changed since the menu was shown), else the one entry of that name; -1 when
// neither says which.
qsizetype chosenEntry(const QStringList &names, qsizetype place, const QString &title)
{
    if (place >= 0 && place < names.size() && library::sameName(names[place], title))
        return place;
    qsizetype found = -1;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!library::sameName(names[i], title))
            continue;
        if (found >= 0)
            return -1;
        found = i;
    }
    return found;
}

} // namespace

AppDelegate::AppDelegate(Defaults &defaults, Alert &alert, QObject *parent)
    : QObject(parent)
    , defaults_(defaults)
    , alert_(alert)
    , scriptMenu_(std::make_unique<ScriptMenu>())
{
    statusItem_.setIcon(zapRunIcon());
}

AppDelegate::~AppDelegate()
{
    statusItem_.setContextMenu(nullptr);
}

void AppDelegate::applicationDidFinishLaunching()
{
    constructMenu();
    connect(menu(), &QMenu::aboutToShow, &defaults_, &Defaults::synchronize);
    statusItem_.setToolTip(QStringLiteral("zR"));
    connect(&statusItem_, &StatusItem::activated, this, &AppDelegate::statusItemActivated);
    statusItem_.show();
    connect(&defaults_, &Defaults::didChange, this, &AppDelegate::defaultsChanged);
    // Queued: the alert waits until the change that failed is over and every observer has run.
    connect(&defaults_, &Defaults::saveFailed, this, &AppDelegate::defaultsFailedToSave,
            Qt::QueuedConnection);
}

// Rebuilds only once a library exists, so that on first run the launch menu stays as it is.
// Every write to the store comes through here, a selection in the editor included, so only what
// changed is replaced.
void AppDelegate::defaultsChanged()
{
    if (!library::userAlreadyExist(defaults_, all_scripts_name))
        return;
    scriptMenu_->showNames(returnAllNames());
}

void AppDelegate::applicationWillTerminate()
{}

// One end of the "show main" handshake: the request passes through the store, whose observer in
// the editor opens the window; the tray never calls the editor.
void AppDelegate::showMainView()
{
    defaults_.setBool(show_main, true);
}

void AppDelegate::script(const QString &command)
{
    const QIcon idleIcon = statusItem_.icon();
    const QString idleToolTip = statusItem_.toolTip();
    running_ = true;
    statusItem_.setIcon(zapRunRunningIcon());
    statusItem_.setToolTip(QStringLiteral("zR: running “%1”").arg(runningName_));
    const ScriptOutcome outcome = Interpreter::run(command);
    statusItem_.setIcon(idleIcon);
    statusItem_.setToolTip(idleToolTip);
    running_ = false;
    if (outcome.failed)
        alert_.run(failedTitle(runningName_), QStringLiteral("Error!"), outcome.errorMessage);
}

// A choice made while a script runs (from a desktop's own copy of the menu, which is no input
// of ZapRun's windows) is dropped like every other input then. A choice runs the one entry its
// item stands for, even where a file written elsewhere holds its name twice.
void AppDelegate::selectScript(qsizetype entry, const QString &chosen)
{
    if (running_)
        return;
    defaults_.synchronize();
    const QStringList names = returnAllNames();
    const qsizetype i = chosenEntry(names, entry, chosen);
    if (i < 0)
        return;
    const StringArray bodies = returnAllScripts();
    runningName_ = names[i];
    if (i < bodies.size())
        script(bodies.at(i));
    else
        alert_.run(failedTitle(names[i]), QStringLiteral("Error!"),
                   QStringLiteral("No script text is stored for “%1”.").arg(names[i]));
}

QStringList AppDelegate::returnAllNames() const
{
    return library::returnAllNames(defaults_);
}

StringArray AppDelegate::returnAllScripts() const
{
    return library::storedScripts(defaults_);
}

void AppDelegate::constructMenu()
{
    scriptMenu_ = std::make_unique<ScriptMenu>();
    connect(scriptMenu_.get(), &ScriptMenu::preferencesChosen, this, &AppDelegate::showMainView);
    connect(scriptMenu_.get(), &ScriptMenu::quitChosen, qApp, &QApplication::quit);
    connect(scriptMenu_.get(), &ScriptMenu::scriptChosen, this, &AppDelegate::selectScript);
    if (library::userAlreadyExist(defaults_, all_scripts_name))
        scriptMenu_->showNames(returnAllNames());
    statusItem_.setContextMenu(scriptMenu_->menu());
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    const QList<QWidget *> windows = AppState::shared().windows();
    if (windows.isEmpty())
        return true;
    if (hasVisibleWindows)
        AppState::orderFront(windows.first());
    else
        AppState::makeKeyAndOrderFront(windows.first());
    return true;
}

void AppDelegate::defaultsFailedToSave(const QString &file, const QString &reason)
{
    alert_.run(
        QStringLiteral("ZapRun"), QStringLiteral("Your scripts could not be saved"),
        QStringLiteral("ZapRun could not write %1: %2.\n\nThe change shows until ZapRun quits "
                       "but is not saved. Once there is room or the folder can be written, "
                       "the next change saves everything.")
            .arg(file, reason));
}

void AppDelegate::statusItemActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A StatusNotifierItem host draws the menu itself; on Wayland a menu of our own, with no
    // window of ours to hang from, would become a window. A click that a host delivers during a
    // run is input made meanwhile: dropped.
    if (reason != QSystemTrayIcon::Trigger || running_ ||
        (statusItem_.isStatusNotifier() && QGuiApplication::platformName().startsWith("wayland")))
        return;
    const QRect icon = statusItem_.geometry();
    scriptMenu_->menu()->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
}
