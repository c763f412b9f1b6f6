#include "app/appdelegate.h"
#include "app/quitshortcut.h"
#include "editor/viewcontroller.h"
#include "help/imageguide.h"
#include "help/settings.h"
#include "packaging/appid.h"
#include "platform/accessibleroot.h"
#include "platform/alert.h"
#include "platform/appstate.h"
#include "platform/displayguard.h"
#include "platform/processsignals.h"
#include "platform/singleinstance.h"
#include "tray/trayicon.h"
#include "store/defaults.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>

namespace {

std::unique_ptr<QApplication> connectToDisplay(int &argc, char **argv)
{
    const DisplayGuard guard;
    return std::make_unique<QApplication>(argc, argv);
}

// The help windows are made anew each time they are asked for and gone when closed.
template <typename Window> void openFrom(QAction *action)
{
    if (!action)
        return;
    QObject::connect(action, &QAction::triggered, [] {
        auto *window = new Window;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
    });
}

void releaseFreedMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

void reportMissingTray()
{
    std::fprintf(stderr, "zaprun: no system tray was found; the zR icon will appear when a tray "
                         "starts, and the editor window opens meanwhile\n");
}

// While no tray is there, the editor says how to reach ZapRun again and how to end it.
void followTray(StatusItem &statusItem, ViewController &editor)
{
    const auto update = [&statusItem, &editor] {
        editor.showTrayMissing(!statusItem.isTrayAvailable());
    };
    // Queued: the status item has followed the change by then.
    QObject::connect(&statusItem, &StatusItem::trayChanged, &editor, update, Qt::QueuedConnection);
    update();
}

} // namespace

int main(int argc, char **argv)
{
    // The library is read and parsed on another thread while Qt connects to the display.
    const QString storePath = Defaults::standardFilePath();
    Defaults::ReadAhead library = Defaults::readAhead(storePath);
    const auto app = connectToDisplay(argc, argv);
    // Ending from outside is quitting: the event loop ends, and everything made below is undone
    // as the stack unwinds (script file, single-instance socket); a running script is ended.
    const ProcessSignals processSignals;
    QObject::connect(&processSignals, &ProcessSignals::quitRequested, app.get(),
                     &QApplication::quit);
    // The tray item's Title is the display name, its Id the desktop file's name. The display name
    // is the application's name, left unset: Qt would add it to every window title, which names
    // ZapRun already.
    QApplication::setApplicationName(QStringLiteral("ZapRun"));
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    listPopupsInAccessibleTree();
    const QuitShortcut quitShortcut;

    SingleInstance instance;
    if (!instance.claim())
        return 0;

    Defaults defaults(storePath, std::move(library));
    DialogAlert alert;
    AppDelegate delegate(defaults, alert);
    ViewController editor(defaults);
    AppState::shared().setMainWindow(&editor);
    openFrom<ImageGuide>(editor.actionGuide());
    openFrom<Settings>(editor.actionSettings());
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate, [&delegate] {
        delegate.applicationShouldHandleReopen(AppState::shared().hasVisibleWindows());
    });
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();
    followTray(delegate.statusItem(), editor);
    if (!delegate.statusItem().isTrayAvailable()) {
        reportMissingTray();
        AppState::shared().activateIgnoringOtherApps(&editor);
    }
    // Every window's icon is drawn in seven sizes; the tray's icon, in one, shows first. Then
    // what start-up freed (the library's parse, on a thread of its own) goes back to the system.
    QTimer::singleShot(0, [] {
        QApplication::setWindowIcon(zapRunIcon());
        releaseFreedMemory();
    });
    return QApplication::exec();
}
