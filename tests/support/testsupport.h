// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/alert.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QDir>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

QByteArray readAll(const QString &path);
// What work wrote to the file descriptor (1 or 2); output left unflushed by work does not count.
QByteArray outputOf(int fd, const std::function<void()> &work);
// "a|b|" is the list "a", "b", "": short to write, blanks and empty entries kept.
inline QStringList list(const char *entries)
{
    return QString::fromUtf8(entries).split('|');
}

// A home of its own: HOME, XDG_CONFIG_HOME and TMPDIR point into a fresh temporary folder.
struct TestHome {
    TestHome();
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

// A store of its own, in a fresh temporary folder.
struct TestStore {
    void library(const QStringList &names, const QStringList &bodies)
    {
        defaults->setStringArray(all_scripts_name, names);
        defaults->setStringArray(all_scripts, bodies);
    }
    void library(const char *names, const char *bodies) { library(list(names), list(bodies)); }
    QStringList names() const { return defaults->stringArrayForKey(all_scripts_name).value(); }
    QStringList bodies() const { return defaults->stringArrayForKey(all_scripts).value(); }
    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults =
        std::make_unique<Defaults>(dir.filePath(QStringLiteral("defaults.json")));
};

// Stands in for the modal alert: notes what it was asked to show and returns at once, as if
// the user had pressed "Ok" straight away.
struct RecordingAlert : Alert {
    void run(const QString &windowTitle, const QString &messageText,
             const QString &informativeText) override;
    QStringList titles;
    QStringList texts;
    QStringList informativeTexts;
};

// The file's permission bits, as chmod spells them (0600).
int modeOf(const QString &path);
// Readable by all, as an editor under the usual umask leaves a new file; an existing file is
// rewritten in place and keeps its mode, as editors and sync tools do.
bool writeFile(const QString &path, const QByteArray &bytes);
// Rewrites the file in place, as editors and sync tools do: the same file and mode, nothing but
// its bytes changed (no change of mode reaches a watch of its folder), its times put back as sync
// tools do, so that its size and times stay as they were too.
bool rewriteInPlace(const QString &path, const QByteArray &bytes);
// Whether one of this process's inotify watches is on the file or folder with this inode (as
// /proc/self/fdinfo lists them): a test waits with it until a removal has been taken in.
bool isWatched(quint64 inode);
