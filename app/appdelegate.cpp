#include "app/appdelegate.h"

#include "platform/alert.h"
#include "platform/appstate.h"
#include "platform/interpreter.h"
#include "platform/menuitem.h"
#include "platform/trayicon.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QApplication>

AppDelegate::AppDelegate(Defaults &defaults, QObject *parent)
    : QObject(parent)
    , defaults_(defaults)
    , menu_(std::make_unique<QMenu>())
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
    statusItem_.setToolTip(QStringLiteral("zR"));
    connect(&statusItem_, &StatusItem::activated, this, &AppDelegate::statusItemActivated);
    statusItem_.show();
    connect(&defaults_, &Defaults::didChange, this, &AppDelegate::defaultsChanged);
    // Queued: the alert waits until the change that failed, both of its writes, is over.
    connect(&defaults_, &Defaults::saveFailed, this, &AppDelegate::defaultsFailedToSave,
            Qt::QueuedConnection);
}

// Rebuilds only once a library exists, so that on first run the launch menu stays as it is.
// Items that already show the right name stay; only the changed stretch is replaced, since
// every write to the store, a selection in the editor included, comes through here.
void AppDelegate::defaultsChanged()
{
    if (!library::userAlreadyExist(defaults_, all_scripts_name))
        return;
    const QStringList names = returnAllNames();
    const QList<QAction *> items = menu_->actions().mid(kFixedItems);
    const auto shows = [&](qsizetype item, qsizetype name) {
        return menuItemTitle(items[item]) == names[name];
    };
    qsizetype head = 0;
    while (head < items.size() && head < names.size() && shows(head, head))
        ++head;
    qsizetype tail = 0;
    while (tail < items.size() - head && tail < names.size() - head &&
           shows(items.size() - 1 - tail, names.size() - 1 - tail))
        ++tail;
    // A removed item may be the one being triggered: it must outlive its own signal.
    for (QAction *item : items.mid(head, items.size() - head - tail)) {
        menu_->removeAction(item);
        item->deleteLater();
    }
    QAction *before = tail > 0 ? items[items.size() - tail] : nullptr;
    for (const QString &name : names.mid(head, names.size() - head - tail))
        addScriptItem(name, before);
}

void AppDelegate::applicationWillTerminate()
{}

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
        runAlert(QStringLiteral("Error!"), outcome.errorMessage);
}

// A choice made while a script runs (from a desktop's own copy of the menu, which is no input
// of ZapRun's windows) is dropped like every other input then; the title is taken once, before
// such a choice can change the highlighted item.
void AppDelegate::selectScript()
{
    if (running_ || !highlightedItem_)
        return;
    const QString chosen = menuItemTitle(highlightedItem_);
    const QStringList names = returnAllNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!library::sameName(names[i], chosen))
            continue;
        const QStringList bodies = returnAllScripts();
        runningName_ = names[i];
        if (i < bodies.size())
            script(bodies[i]);
        else
            runAlert(QStringLiteral("Error!"),
                     QStringLiteral("No script text is stored for “%1”.").arg(names[i]));
    }
}

QStringList AppDelegate::returnAllNames() const
{
    return library::returnAllNames(defaults_);
}

QStringList AppDelegate::returnAllScripts() const
{
    return library::returnAllScripts(defaults_);
}

void AppDelegate::constructMenu()
{
    menu_ = std::make_unique<QMenu>();
    addFixedItems();
    if (library::userAlreadyExist(defaults_, all_scripts_name)) {
        for (const QString &name : returnAllNames())
            addScriptItem(name);
    }
    statusItem_.setContextMenu(menu_.get());
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
    runAlert(QStringLiteral("Your scripts could not be saved"),
             QStringLiteral("ZapRun could not write %1: %2.\n\nThe change shows until ZapRun quits "
                            "but is not saved. Once there is room or the folder can be written, "
                            "the next change saves everything.")
                 .arg(file, reason));
}

void AppDelegate::addFixedItems()
{
    connect(addMenuItem(*menu_, QStringLiteral("Preferences")), &QAction::triggered, this,
            &AppDelegate::showMainView);
    connect(addMenuItem(*menu_, QStringLiteral("Quit ZapRun"), QKeySequence::Quit),
            &QAction::triggered, qApp, &QApplication::quit);
    menu_->addSeparator();
}

void AppDelegate::addScriptItem(const QString &name, QAction *before)
{
    QAction *item = addMenuItem(*menu_, name, {}, before);
    connect(item, &QAction::triggered, this, [this, item] {
        highlightedItem_ = item;
        selectScript();
    });
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
    menu_->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
}
