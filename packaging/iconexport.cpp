// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the "zR" square of the tray, drawn by the program's own code, as the PNG sizes of the
// hicolor icon theme: DIR/NxN/apps/APPID.png for each size given.
#include "tray/trayicon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    // Drawing needs a GUI application but no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: zaprun-iconexport DIR APPID SIZE...\n");
        return 2;
    }
    const QDir root(args.at(1));
    const QString appId = args.at(2);
    const QIcon icon = zapRunIcon();
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        const QPixmap pixmap = ok ? icon.pixmap(size, size) : QPixmap();
        if (pixmap.size() != QSize(size, size)) {
            std::fprintf(stderr, "zaprun-iconexport: no %s pixel icon\n", qPrintable(args.at(i)));
            return 1;
        }
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = root.filePath(dir + QLatin1Char('/') + appId + QStringLiteral(".png"));
        if (!root.mkpath(dir) || !pixmap.save(file, "PNG")) {
            std::fprintf(stderr, "zaprun-iconexport: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
