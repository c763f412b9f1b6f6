#include "app/appdelegate.h"

#include "platform/alert.h"
#include "platform/appstate.h"
#include "platform/interpreter.h"
#include "tray/menuitem.h"
#include "tray/trayicon.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QApplication>

namespace {

// How many names at the start, and then at the end, both lists have in common.
std::pair<qsizetype, qsizetype> unchangedEnds(const QStringList &shown, const QStringList &names)
{
    qsizetype head = 0;
    while (head < shown.size() && head < names.size() && shown[head] == names[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shown.size() - head && tail < names.size() - head &&
           shown[shown.size() - 1 - tail] == names[names.size() - 1 - tail])
        ++tail;
    return {head, tail};
}

} // namespace

AppDelegate::AppDelegate(Defaults &defaults, Alert &alert, QObject *parent)
    : QObject(parent)
    , defaults_(defaults)
    , alert_(alert)
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
    const QStringList names = returnAllNames();
    if (names != shownNames_)
        addScriptItems(names);
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
        alert_.run(QStringLiteral("Error!"), outcome.errorMessage);
}

// A choice made while a script runs (from a desktop's own copy of the menu, which is no input
// of ZapRun's windows) is dropped like every other input then; the title is taken once, before
// such a choice can change the highlighted item.
void AppDelegate::selectScript()
{
    if (running_ || !highlightedItem_)
        return;
    const QString chosen = menuItemTitle(highlightedItem_);
    defaults_.synchronize();
    const QStringList names = returnAllNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!library::sameName(names[i], chosen))
            continue;
        const QStringList bodies = returnAllScripts();
        runningName_ = names[i];
        if (i < bodies.size())
            script(bodies[i]);
        else
            alert_.run(QStringLiteral("Error!"),
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
    makeScrollable(*menu_);
    pages_.clear();
    shownNames_.clear();
    addFixedItems();
    if (library::userAlreadyExist(defaults_, all_scripts_name))
        addScriptItems(returnAllNames());
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
    alert_.run(
        QStringLiteral("Your scripts could not be saved"),
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

// Makes the menu show these names in place of the ones it shows.
void AppDelegate::addScriptItems(const QStringList &names)
{
    if (shownNames_.size() <= kNamesPerMenu && names.size() <= kNamesPerMenu)
        replaceChangedStretch(*menu_, kFixedItems, shownNames_, names);
    else if (pages_.isEmpty() || names.size() <= kNamesPerMenu || !replaceInPages(names))
        replaceScriptItems(names);
    shownNames_ = names;
}

// All names anew: in the menu itself when few, else in submenus of kNamesPerMenu each.
void AppDelegate::replaceScriptItems(const QStringList &names)
{
    if (pages_.isEmpty())
        replaceChangedStretch(*menu_, kFixedItems, shownNames_, {});
    while (!pages_.isEmpty())
        removePage(pages_.size() - 1);
    if (names.size() <= kNamesPerMenu) {
        replaceChangedStretch(*menu_, kFixedItems, {}, names);
        return;
    }
    for (qsizetype start = 0; start < names.size(); start += kNamesPerMenu) {
        pages_.append(menu_->addMenu(QString()));
        makeScrollable(*pages_.last());
        replaceChangedStretch(*pages_.last(), 0, {}, names.mid(start, kNamesPerMenu));
    }
    titlePages();
}

// Only the submenus that hold the changed names change: their names go into the first of them,
// the others go. False when that submenu would grow past twice its size.
bool AppDelegate::replaceInPages(const QStringList &names)
{
    const auto [head, tail] = unchangedEnds(shownNames_, names);
    const auto size = [this](qsizetype page) {
        return pages_[page]->actions().size();
    };
    qsizetype first = 0;
    qsizetype start = 0;
    while (first + 1 < pages_.size() && start + size(first) <= head)
        start += size(first++);
    qsizetype last = first;
    qsizetype end = start + size(first);
    while (last + 1 < pages_.size() && end < shownNames_.size() - tail)
        end += size(++last);
    const qsizetype newEnd = end + names.size() - shownNames_.size();
    if (newEnd - start > 2 * kNamesPerMenu)
        return false;
    for (qsizetype page = last; page > first; --page)
        removePage(page);
    replaceChangedStretch(*pages_[first], 0, shownNames_.mid(start, size(first)),
                          names.mid(start, newEnd - start));
    if (newEnd == start)
        removePage(first);
    titlePages();
    return true;
}

void AppDelegate::removePage(qsizetype page)
{
    QMenu *menu = pages_.takeAt(page);
    menu_->removeAction(menu->menuAction());
    menu->deleteLater(); // its item may be the one being triggered
}

void AppDelegate::titlePages()
{
    qsizetype first = 1;
    for (QMenu *page : std::as_const(pages_)) {
        const qsizetype count = page->actions().size();
        page->setTitle(QStringLiteral("Scripts %1\u2013%2").arg(first).arg(first + count - 1));
        first += count;
    }
}

// Items that already show the right name stay; only the changed stretch is replaced.
void AppDelegate::replaceChangedStretch(QMenu &menu, qsizetype first, const QStringList &shown,
                                        const QStringList &names)
{
    const QList<QAction *> items = menu.actions().mid(first, shown.size());
    const auto [head, tail] = unchangedEnds(shown, names);
    // A removed item may be the one being triggered: it must outlive its own signal.
    for (QAction *item : items.mid(head, shown.size() - head - tail)) {
        menu.removeAction(item);
        item->deleteLater();
    }
    QAction *before = tail > 0 ? items[items.size() - tail] : nullptr;
    for (const QString &name : names.mid(head, names.size() - head - tail))
        addScriptItem(menu, name, before);
}

void AppDelegate::addScriptItem(QMenu &menu, const QString &name, QAction *before)
{
    QAction *item = addMenuItem(menu, name, {}, before);
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
