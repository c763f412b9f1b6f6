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
    , menu_(std::make_unique<QMenu>()) {
    statusItem_.setIcon(zapRunIcon());
}

AppDelegate::~AppDelegate() {
    statusItem_.setContextMenu(nullptr);
}

void AppDelegate::applicationDidFinishLaunching() {
    constructMenu();
    statusItem_.setToolTip(QStringLiteral("zR"));
    connect(&statusItem_, &QSystemTrayIcon::activated, this, &AppDelegate::statusItemActivated);
    statusItem_.show();
    connect(&defaults_, &Defaults::didChange, this, &AppDelegate::defaultsChanged);
}

// Rebuilds only once a library exists, so that on first run the launch menu stays as it is.
void AppDelegate::defaultsChanged() {
    if (!library::userAlreadyExist(defaults_, all_scripts_name))
        return;
    // The item being triggered may be among these: it must outlive its own signal.
    for (QAction *item : menu_->actions()) {
        menu_->removeAction(item);
        item->deleteLater();
    }
    addFixedItems();
    addScriptItems();
}

void AppDelegate::applicationWillTerminate() {
}

void AppDelegate::showMainView() {
    defaults_.setBool(show_main, true);
}

void AppDelegate::script(const QString &command) {
    const ScriptOutcome outcome = Interpreter::run(command);
    if (outcome.failed)
        runAlert(QStringLiteral("Error!"), outcome.errorMessage);
}

void AppDelegate::selectScript() {
    const QStringList names = returnAllNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!highlightedItem_ || !library::sameName(names[i], menuItemTitle(highlightedItem_)))
            continue;
        const QStringList bodies = returnAllScripts();
        if (i < bodies.size())
            script(bodies[i]);
        else
            runAlert(QStringLiteral("Error!"),
                     QStringLiteral("No script text is stored for “%1”.").arg(names[i]));
    }
}

QStringList AppDelegate::returnAllNames() const {
    return library::returnAllNames(defaults_);
}

QStringList AppDelegate::returnAllScripts() const {
    return library::returnAllScripts(defaults_);
}

void AppDelegate::constructMenu() {
    menu_ = std::make_unique<QMenu>();
    addFixedItems();
    if (library::userAlreadyExist(defaults_, all_scripts_name))
        addScriptItems();
    statusItem_.setContextMenu(menu_.get());
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    const QList<QWidget *> windows = AppState::shared().windows();
    if (windows.isEmpty())
        return true;
    if (hasVisibleWindows)
        AppState::orderFront(windows.first());
    else
        AppState::makeKeyAndOrderFront(windows.first());
    return true;
}

void AppDelegate::addFixedItems() {
    connect(addMenuItem(*menu_, QStringLiteral("Preferences")), &QAction::triggered, this,
            &AppDelegate::showMainView);
    connect(addMenuItem(*menu_, QStringLiteral("Quit ZapRun"), QKeySequence::Quit),
            &QAction::triggered, qApp, &QApplication::quit);
    menu_->addSeparator();
}

void AppDelegate::addScriptItems() {
    for (const QString &name : returnAllNames()) {
        QAction *item = addMenuItem(*menu_, name);
        connect(item, &QAction::triggered, this, [this, item] {
            highlightedItem_ = item;
            selectScript();
        });
    }
}

void AppDelegate::statusItemActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger)
        return;
    const QRect icon = statusItem_.geometry();
    menu_->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
}
