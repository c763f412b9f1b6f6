// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/displayguard.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace {

QtMessageHandler previousHandler = nullptr;
QByteArray lastPlatformWarning;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool fromPlatform = context.category && qstrncmp(context.category, "qt.qpa", 6) == 0;
    if (type == QtFatalMsg) {
        const QByteArray why =
            lastPlatformWarning.isEmpty() ? message.toLocal8Bit() : lastPlatformWarning;
        std::fprintf(stderr, "zaprun: cannot connect to the display: %s\n", why.constData());
        std::fflush(stderr);
        ::_exit(1);
    }
    if (fromPlatform && type == QtWarningMsg) {
        lastPlatformWarning = message.toLocal8Bit();
        return;
    }
    if (fromPlatform && type == QtInfoMsg)
        return; // the plugin's own "could not load" note; the warning above says why

    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

DisplayGuard::DisplayGuard()
{
    previousHandler = qInstallMessageHandler(handler);
}

DisplayGuard::~DisplayGuard()
{
    qInstallMessageHandler(previousHandler);
}
