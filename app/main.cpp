// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "platform/graphicsstack.h"
#include "platform/processsignals.h"
#include "platform/singleinstance.h"
#include "store/defaults.h"
#include "tray/trayicon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTimer>

#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>
#include <sys/resource.h>

namespace {

// Each thread, font, plugin and script takes files of its own: with fewer, Qt and its libraries
// end the process wherever one is refused, or wait forever for a descriptor that never came.
constexpr rlim_t kFilesNeeded = 32;

bool reportTooFewFiles()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kFilesNeeded)
        return false;
    std::fprintf(stderr,
                 "zaprun: only %llu files may be open at once (ulimit -n); ZapRun needs %llu\n",
                 static_cast<unsigned long long>(limit.rlim_cur),
                 static_cast<unsigned long long>(kFilesNeeded));
    return true;
}

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

// A session bus that is there but cannot be reached is said as such, not as a missing tray.
bool reportUnreachableBus()
{
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        return false;
    std::fprintf(stderr,
                 "zaprun: cannot connect to the session bus (%s); a tray that uses it cannot "
                 "show the zR icon\n",
                 qPrintable(bus.lastError().message()));
    return true;
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
    if (reportTooFewFiles())
        return 1;
    // The library is read and parsed on another thread while Qt connects to the display.
    const QString storePath = Defaults::standardFilePath();
    Defaults::ReadAhead library = Defaults::readAhead(storePath);
    const auto app = connectToDisplay(argc, argv);
    loadNoGraphicsStack();
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
    if (const SingleInstance::Claim claim = instance.claim(); claim != SingleInstance::Claim::First)
        return claim == SingleInstance::Claim::ReopenedRunning ? 0 : 1;

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
    const bool busUnreachable = reportUnreachableBus();
    followTray(delegate.statusItem(), editor);
    if (!delegate.statusItem().isTrayAvailable()) {
        if (!busUnreachable)
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
