// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray outputOf(int fd, const std::function<void()> &work)
{
    std::fflush(nullptr);
    QTemporaryFile file;
    const int saved = ::dup(fd);
    if (!file.open() || saved < 0 || ::dup2(file.handle(), fd) < 0)
        return QByteArrayLiteral("<no redirection>");
    work();
    const QByteArray text = readAll(file.fileName());
    std::fflush(nullptr); // what work left unflushed goes to the file, not into the test's log
    ::dup2(saved, fd);
    ::close(saved);
    return text;
}

// Where temporary folders went when the test started: a home's TMPDIR may be gone with it.
static const QString firstTempPath = QDir::tempPath();

TestHome::TestHome()
    : dir(firstTempPath + QStringLiteral("/zaprun-test-XXXXXX"))
{
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    QDir().mkpath(path(QStringLiteral("tmp")));
}

void RecordingAlert::run(const QString &windowTitle, const QString &messageText,
                         const QString &informativeText)
{
    titles << windowTitle;
    texts << messageText;
    informativeTexts << informativeText;
}

int modeOf(const QString &path)
{
    const int bits = QFileInfo(path).permissions();
    return (bits >> 12 & 7) << 6 | (bits >> 4 & 7) << 3 | (bits & 7);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    const bool existed = file.exists();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           (existed ||
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
}

bool rewriteInPlace(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    struct stat before {};
    const bool rewritten = fd >= 0 && ::fstat(fd, &before) == 0 &&
                           ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
                           ::ftruncate(fd, bytes.size()) == 0;
    const timespec times[2] = {before.st_atim, before.st_mtim};
    const bool kept = rewritten && ::futimens(fd, times) == 0;
    return ::close(fd) == 0 && kept;
}

bool isWatched(quint64 inode)
{
    const QString watch = QStringLiteral(" ino:%1 ").arg(inode, 0, 16);
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(fd));
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 &&
            qstrcmp(target, "anon_inode:inotify") == 0 &&
            readAll(QStringLiteral("/proc/self/fdinfo/") + fd).contains(watch.toLatin1()))
            return true;
    }
    return false;
}
