// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/homefolder.h"

#include <QDir>
#include <QFile>

#include <pwd.h>
#include <unistd.h>

QString homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(QFile::decodeName(home));
    const passwd *account = ::getpwuid(::getuid());
    return account && account->pw_dir && *account->pw_dir ? QFile::decodeName(account->pw_dir)
                                                          : QDir::rootPath();
}
