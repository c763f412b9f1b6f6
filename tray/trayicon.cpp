// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/trayicon.h"

#include "packaging/appid.h"

#include <QDir>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

#include <memory>

namespace {

struct Colours {
    QColor rim;
    QColor fill;
    QColor letters;
};

// A dark square with a light rim and light letters reads on light and dark panels alike; while a
// script runs, the letters' colour fills the square, a change seen at a glance.
constexpr Colours kIdle{QColor(0xe8, 0xea, 0xed), QColor(0x1f, 0x23, 0x29),
                        QColor(0xff, 0xd3, 0x3d)};
constexpr Colours kRunning{QColor(0x1f, 0x23, 0x29), QColor(0xff, 0xd3, 0x3d),
                           QColor(0x1f, 0x23, 0x29)};

// The letters "zR" as strokes on a unit square: drawing them from a font would load the font
// database at start-up, a tenth of the program's memory.
QPainterPath letters()
{
    QPainterPath path;
    path.moveTo(0.17, 0.36);
    path.lineTo(0.45, 0.36);
    path.lineTo(0.17, 0.70);
    path.lineTo(0.45, 0.70);
    path.moveTo(0.56, 0.72);
    path.lineTo(0.56, 0.26);
    path.lineTo(0.68, 0.26);
    path.cubicTo(0.85, 0.26, 0.85, 0.51, 0.68, 0.51);
    path.lineTo(0.56, 0.51);
    path.moveTo(0.67, 0.51);
    path.lineTo(0.83, 0.72);
    return path;
}

void drawSquare(QPainter &painter, const QRect &area, const Colours &colours)
{
    const qreal size = qMin(area.width(), area.height());
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal rim = qMax(1.0, size / 16.0);
    const QRectF square =
        QRectF(area.topLeft(), QSizeF(size, size)).adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2);
    painter.setPen(QPen(colours.rim, rim));
    painter.setBrush(colours.fill);
    painter.drawRoundedRect(square, size / 6.0, size / 6.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colours.letters, qMax(1.5, size / 11.0) / size, Qt::SolidLine, Qt::RoundCap,
                        Qt::RoundJoin));
    painter.translate(area.topLeft());
    painter.scale(size, size);
    painter.drawPath(letters());
}

// Whether the icon is installed in hicolor, the theme every theme falls back to, where ZapRun's
// package puts it. Asking Qt's theme instead loads the user's whole theme, which on a
// StatusNotifierItem host delays the first drawing of the icon by a fifth.
bool installedInHicolor(const QString &name)
{
    const QStringList files{name + QLatin1String(".png"), name + QLatin1String(".svg")};
    for (const QString &data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QDir theme(data + QLatin1String("/icons/hicolor"));
        for (const QString &size : theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QString &file : files) {
                if (theme.exists(size + QLatin1String("/apps/") + file))
                    return true;
            }
        }
    }
    return false;
}

// Draws each size when it is first asked for, once: every window that takes the application's
// icon asks for all sizes again, and antialiased strokes are the costliest part of start-up.
class SquareIconEngine : public QIconEngine {
public:
    SquareIconEngine(const Colours &colours, bool themed)
        : colours_(colours)
        , themed_(themed)
        , drawn_(std::make_shared<QHash<int, QPixmap>>())
    {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        drawSquare(*painter, rect, colours_);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (size.width() != size.height())
            return draw(size, mode, state);
        QPixmap &drawn = (*drawn_)[size.width()];
        if (drawn.isNull())
            drawn = draw(size, mode, state);
        return drawn;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int size : {16, 22, 24, 32, 48, 64, 128})
            sizes << QSize(size, size);
        return sizes;
    }

    // The installed icon's name, for trays that take icons from the theme; asked only by a
    // StatusNotifierItem, and only where the icon is installed (a host may show a name it
    // cannot find as a missing picture). The running state has no themed picture.
    QString iconName() override
    {
        if (!themed_)
            return {};
        if (!nameLookedUp_) {
            const QString appId = QString::fromLatin1(kAppId);
            name_ = installedInHicolor(appId) ? appId : QString();
            nameLookedUp_ = true;
        }
        return name_;
    }

    QIconEngine *clone() const override { return new SquareIconEngine(*this); }

private:
    QPixmap draw(const QSize &size, QIcon::Mode mode, QIcon::State state)
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, pixmap.rect(), mode, state);
        return pixmap;
    }

    Colours colours_;
    bool themed_;
    std::shared_ptr<QHash<int, QPixmap>> drawn_; // shared with clones

    QString name_;
    bool nameLookedUp_ = false;
};

} // namespace

QIcon zapRunIcon()
{
    return QIcon(new SquareIconEngine(kIdle, true));
}

QIcon zapRunRunningIcon()
{
    return QIcon(new SquareIconEngine(kRunning, false));
}
