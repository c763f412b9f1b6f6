#include "platform/statusitem.h"

#include "platform/menuitem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <qpa/qplatformnativeinterface.h>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The question Qt asks before it makes a StatusNotifierItem, asked without starting anything.
bool statusNotifierHostPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

// The XEmbed tray manager of the screen, as Qt's own tray icon finds it.
bool xembedTrayPresent()
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    return onX11() && native && QGuiApplication::primaryScreen() &&
           native->nativeResourceForScreen("traywindow", QGuiApplication::primaryScreen());
}

} // namespace

StatusItem::StatusItem(QObject *parent)
    : QObject(parent)
{
    watchForTrays();
}

StatusItem::~StatusItem()
{
    if (icon_)
        icon_->setContextMenu(nullptr);
}

void StatusItem::setIcon(const QIcon &icon)
{
    image_ = icon;
    if (icon_)
        icon_->setIcon(icon);
}

void StatusItem::setToolTip(const QString &toolTip)
{
    toolTip_ = toolTip;
    if (icon_)
        icon_->setToolTip(toolTip);
}

void StatusItem::setContextMenu(QMenu *menu)
{
    if (menu_)
        menu_->removeEventFilter(this);
    menu_ = menu;
    if (menu_)
        menu_->installEventFilter(this);
    if (!icon_)
        return;
    if (statusNotifier_)
        exportMenu();
    else
        icon_->setContextMenu(menu);
}

void StatusItem::show()
{
    shown_ = true;
    trayMayHaveChanged();
}

QRect StatusItem::geometry() const
{
    return icon_ ? icon_->geometry() : QRect();
}

// show() has made the icon in a StatusNotifierItem host already, if there is one.
bool StatusItem::isTrayAvailable() const
{
    return statusNotifier_ || xembedTrayPresent();
}

// Without a session bus Qt can only use an XEmbed tray, and watches for one itself.
void StatusItem::trayMayHaveChanged()
{
    if (!shown_ || icon_)
        return;
    const bool statusNotifier = statusNotifierHostPresent();
    if (statusNotifier || xembedTrayPresent() || !QDBusConnection::sessionBus().isConnected()) {
        statusNotifier_ = statusNotifier;
        makeIcon();
    }
}

void StatusItem::watchForTrays()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto *watcher =
            new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &StatusItem::trayMayHaveChanged);
        bus.connect(kWatcher, kWatcherPath, kWatcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(trayMayHaveChanged()));
    }
    if (onX11()) {
        xembedTrayPresent(); // makes Qt follow the tray manager from now on
        connect(QGuiApplication::platformNativeInterface(),
                SIGNAL(systemTrayWindowChanged(QScreen *)), this, SLOT(trayMayHaveChanged()));
    }
}

void StatusItem::makeIcon()
{
    icon_ = std::make_unique<QSystemTrayIcon>(image_);
    icon_->setToolTip(toolTip_);
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &StatusItem::activated);
    setContextMenu(menu_);
    icon_->show();
}

bool StatusItem::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (statusNotifier_ && qobject_cast<QMenu *>(watched) &&
        (type == QEvent::ActionAdded || type == QEvent::ActionRemoved ||
         type == QEvent::ActionChanged))
        scheduleExport();
    return QObject::eventFilter(watched, event);
}

// A rebuild of the menu changes many items at once: the copy follows once, after it.
void StatusItem::scheduleExport()
{
    if (exportPending_)
        return;
    exportPending_ = true;
    QTimer::singleShot(0, this, [this] {
        exportPending_ = false;
        exportMenu();
    });
}

// The old copy goes later: one of its items may be the one being triggered.
void StatusItem::exportMenu()
{
    auto copy = std::make_unique<QMenu>();
    if (menu_)
        copyItems(*menu_, *copy);
    icon_->setContextMenu(copy.get());
    if (exported_)
        exported_.release()->deleteLater();
    exported_ = std::move(copy);
}

// Submenus become submenus of the copy, and are watched like the menu itself.
void StatusItem::copyItems(QMenu &menu, QMenu &copy)
{
    for (QAction *item : menu.actions()) {
        if (item->isSeparator()) {
            copy.addSeparator();
        } else if (QMenu *submenu = item->menu()) {
            submenu->installEventFilter(this);
            copyItems(*submenu, *copy.addMenu(exportedMenuText(submenu->title())));
        } else {
            QAction *exported = copy.addAction(exportedMenuText(menuItemTitle(item)));
            exported->setShortcut(item->shortcut());
            connect(exported, &QAction::triggered, item, &QAction::trigger);
        }
    }
}
