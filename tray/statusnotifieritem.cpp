// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/statusnotifieritem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QtEndian>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
// Hosts scale what they get; larger pictures only weigh on the bus.
constexpr int kLargestPicture = 64;

} // namespace

static const QDBusArgument &operator<<(QDBusArgument &arg, const StatusNotifierImage &image)
{
    arg.beginStructure();
    arg << image.width << image.height << image.data;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, StatusNotifierImage &image)
{
    arg.beginStructure();
    arg >> image.width >> image.height >> image.data;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator<<(QDBusArgument &arg, const StatusNotifierToolTip &toolTip)
{
    arg.beginStructure();
    arg << toolTip.iconName << toolTip.images << toolTip.title << toolTip.text;
    arg.endStructure();
    return arg;
}

static const QDBusArgument &operator>>(const QDBusArgument &arg, StatusNotifierToolTip &toolTip)
{
    arg.beginStructure();
    arg >> toolTip.iconName >> toolTip.images >> toolTip.title >> toolTip.text;
    arg.endStructure();
    return arg;
}

StatusNotifierItem::StatusNotifierItem(QObject *parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<StatusNotifierImage>();
    qDBusRegisterMetaType<StatusNotifierImages>();
    qDBusRegisterMetaType<StatusNotifierToolTip>();
}

// Published once its icon, tooltip and menu are set: a host reads them all at once. Known by the
// connection's own name, which no host can mistake for another item's or find without its owner.
// Every new owner of the watcher's name, a replacing one included, is told of the item.
void StatusNotifierItem::show()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto exported = QDBusConnection::ExportScriptableSlots |
                          QDBusConnection::ExportScriptableSignals |
                          QDBusConnection::ExportAllProperties;
    bus.registerObject(kItemPath, this, exported);
    menu_.registerAt(kMenuPath);
    auto *watcher =
        new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                if (!owner.isEmpty())
                    registerWithWatcher();
            });
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kMenuPath);
    bus.unregisterObject(kItemPath);
}

void StatusNotifierItem::setIcon(const QIcon &icon)
{
    icon_ = icon;
    emit NewIcon();
}

void StatusNotifierItem::setToolTip(const QString &toolTip)
{
    toolTip_ = toolTip;
    emit NewToolTip();
}

QString StatusNotifierItem::id() const
{
    return QGuiApplication::desktopFileName();
}

QString StatusNotifierItem::title() const
{
    return QGuiApplication::applicationDisplayName();
}

// Every size the icon has up to the largest worth sending.
StatusNotifierImages StatusNotifierItem::iconPixmap() const
{
    StatusNotifierImages images;
    for (const QSize &size : icon_.availableSizes()) {
        if (size.width() > kLargestPicture || size.height() > kLargestPicture)
            continue;
        const QImage image =
            icon_.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        StatusNotifierImage picture{
            image.width(), image.height(),
            QByteArray(image.width() * image.height() * 4, Qt::Uninitialized)};
        for (int row = 0; row < image.height(); ++row)
            qToBigEndian<quint32>(image.constScanLine(row), image.width(),
                                  picture.data.data() + row * image.width() * 4);
        images.append(picture);
    }
    return images;
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    return {iconName(), {}, toolTip_, {}};
}

QDBusObjectPath StatusNotifierItem::menuPath() const
{
    return QDBusObjectPath(kMenuPath);
}

void StatusNotifierItem::Activate(int, int)
{
    if (activated_)
        activated_(QSystemTrayIcon::Trigger);
}

void StatusNotifierItem::SecondaryActivate(int, int)
{
    if (activated_)
        activated_(QSystemTrayIcon::MiddleClick);
}

void StatusNotifierItem::ContextMenu(int, int)
{
    if (activated_)
        activated_(QSystemTrayIcon::Context);
}

// Scrolling over the icon means nothing here.
void StatusNotifierItem::Scroll(int, const QString &)
{}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << QDBusConnection::sessionBus().baseService();
    call.setAutoStartService(false);
    QDBusConnection::sessionBus().send(call);
}
