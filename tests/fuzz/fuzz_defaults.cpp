// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as the store's file, then every key the program reads.
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QDir>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("defaults.json"));
    if (QFile file(path); !file.open(QIODevice::WriteOnly) ||
                          file.write(reinterpret_cast<const char *>(data), qint64(size)) < 0)
        return 0;
    const Defaults defaults(path);
    library::sameName(library::returnAllNames(defaults).join(QString()),
                      library::returnAllScripts(defaults).join(QString()));
    defaults.integerForKey(sel_script);
    defaults.boolForKey(show_main);
    library::userAlreadyExist(defaults, all_scripts_name);
    // A damaged input is moved aside: clear the folder for the next one.
    for (const QString &entry : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(entry));
    return 0;
}
