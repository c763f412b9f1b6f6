// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/statusitem.h"

#include "tray/statusnotifieritem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QScreen>
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
    if (item_)
        item_->setIcon(icon);
    if (icon_)
        icon_->setIcon(icon);
}

void StatusItem::setToolTip(const QString &toolTip)
{
    toolTip_ = toolTip;
    if (item_)
        item_->setToolTip(toolTip);
    if (icon_)
        icon_->setToolTip(toolTip);
}

void StatusItem::setContextMenu(QMenu *menu)
{
    menu_ = menu;
    if (item_)
        item_->setMenu(menu);
    if (icon_)
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

bool StatusItem::isTrayAvailable() const
{
    return item_ || xembedTrayPresent();
}

// A StatusNotifierItem host, once there, is kept: the item registers again with every new
// watcher. Without a session bus Qt can only use an XEmbed tray, and watches for one itself.
void StatusItem::trayMayHaveChanged()
{
    emit trayChanged();
    if (!shown_ || item_)
        return;
    if (statusNotifierHostPresent())
        makeStatusNotifierItem();
    else if (!icon_ && (xembedTrayPresent() || !QDBusConnection::sessionBus().isConnected()))
        makeIcon();
}

void StatusItem::watchForTrays()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        // A watcher that takes the name from another is a new tray as much as a first one.
        auto *watcher =
            new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &, const QString &owner) {
                    if (!owner.isEmpty())
                        trayMayHaveChanged();
                });
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

// An XEmbed icon made before the host came would be a second icon in a tray that hosts both.
void StatusItem::makeStatusNotifierItem()
{
    if (icon_)
        icon_->setContextMenu(nullptr);
    icon_.reset();
    item_ = std::make_unique<StatusNotifierItem>();
    item_->setIcon(image_);
    item_->setToolTip(toolTip_);
    item_->setMenu(menu_);
    item_->setActivationHandler(
        [this](QSystemTrayIcon::ActivationReason reason) { emit activated(reason); });
    item_->show();
}

void StatusItem::makeIcon()
{
    icon_ = std::make_unique<QSystemTrayIcon>(image_);
    icon_->setToolTip(toolTip_);
    icon_->setContextMenu(menu_);
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &StatusItem::activated);
    icon_->show();
}
