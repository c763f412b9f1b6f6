// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/storefiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storefiles {

namespace {

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Identity identityOf(const struct stat &info)
{
    return {info.st_dev, info.st_ino, info.st_size,
            qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

QString hiddenBeside(const QString &path, const char *suffix)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1String(suffix);
}

// A free name beside path, so that nothing already there is ever overwritten.
QString asideName(const QString &path, const QString &why)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = QStringLiteral("%1.%2-%3").arg(path, why, stamp);
    QString candidate = base;
    for (int n = 1; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++n)
        candidate = QStringLiteral("%1-%2").arg(base).arg(n);
    return candidate;
}

// Creates a new file of mode 0600 holding bytes, or nothing at all.
bool writeNew(const QString &path, const QByteArray &bytes)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool whole = done == bytes.size() && ::fchmod(fd, 0600) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !whole) {
        ::unlink(name.constData());
        return false;
    }
    return true;
}

// Plain read(2), no QFile: the first reading runs on a thread of its own before QApplication
// exists, and the first thread to make a QObject becomes Qt's main thread. The buffer keeps room
// to spare past the end: the JSON reader reads ahead in blocks.
constexpr qsizetype kSpare = 64;

// A library of thousands of scripts is megabytes: read into huge pages where the system offers
// them, it takes a few faults instead of one per 4 KiB page, each of which a virtual machine
// makes costly.
void preferHugePages(QByteArray &bytes)
{
    constexpr quintptr kHugePage = 2 << 20;
    const auto start = reinterpret_cast<quintptr>(bytes.data());
    const quintptr from = (start + kHugePage - 1) & ~(kHugePage - 1);
    const quintptr to = (start + quintptr(bytes.capacity())) & ~(kHugePage - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
}

bool readToEnd(int fd, qsizetype expected, QByteArray &bytes)
{
    bytes.reserve(expected + kSpare);
    preferHugePages(bytes);
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            bytes.append(buffer, got);
    }
}

// Whether the rest of the file has that digest, read a block at a time: a library that has not
// changed is not held twice.
bool hasDigest(int fd, size_t digest)
{
    Digest rest;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return rest.result() == digest;
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            rest.add(QByteArrayView(buffer, got));
    }
}

} // namespace

void Digest::add(QByteArrayView bytes)
{
    size_ += bytes.size();
    if (!block_.isEmpty()) {
        const qsizetype taken = std::min(kBlock - block_.size(), bytes.size());
        block_.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (block_.size() < kBlock)
            return;
        hash_ = qHash(QByteArrayView(block_), hash_);
        block_.resize(0);
    }
    for (; bytes.size() >= kBlock; bytes = bytes.sliced(kBlock))
        hash_ = qHash(bytes.first(kBlock), hash_);
    block_.append(bytes);
}

size_t Digest::result() const
{
    return qHash(QByteArrayView(block_), hash_ ^ size_t(size_));
}

void complain(const QString &line)
{
    std::fprintf(stderr, "zaprun: %s\n", qPrintable(line));
}

Identity identify(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return identityOf(info);
}

Identity identify(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return identityOf(info);
}

qint64 linkCount(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return qint64(info.st_nlink);
}

// Opened without blocking, so that a FIFO in the store's place cannot hang the start.
Version read(const QString &path, const Identity &known, size_t knownDigest)
{
    Version version;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const bool missing = errno == ENOENT;
        version.problem = lastError();
        version.identity = missing ? Identity{} : identify(path);
        if (fd >= 0)
            ::close(fd);
        return version;
    }
    // Only a file of the known size may be the known version: any other is read once, whole.
    const bool mayBeKnown = knownDigest != 0 && known.exists() && info.st_size == known.size;
    if (!S_ISREG(info.st_mode))
        version.problem = S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder")
                                                : QStringLiteral("it is not a regular file");
    else if (mayBeKnown && hasDigest(fd, knownDigest))
        version.digest = knownDigest;
    else if ((mayBeKnown && ::lseek(fd, 0, SEEK_SET) != 0) ||
             !readToEnd(fd, qsizetype(info.st_size), version.bytes))
        version.problem = lastError();
    if (version.digest == 0) {
        Digest digest;
        digest.add(version.bytes);
        version.digest = digest.result();
    }
    // The identity of what was read: a change made during the read shows as a later version.
    if (::fstat(fd, &info) == 0)
        version.identity = identityOf(info);
    ::close(fd);
    return version;
}

QString moveAside(const QString &path, const QString &why)
{
    const QString aside = asideName(path, why);
    if (!QFile::rename(path, aside))
        return {};
    const QFileInfo moved(aside);
    if (!moved.isSymLink())
        ::chmod(QFile::encodeName(aside).constData(), moved.isDir() ? 0700 : 0600);
    return aside;
}

QString keepAside(const QString &path, const QString &why, const QByteArray &bytes)
{
    const QString aside = asideName(path, why);
    return writeNew(aside, bytes) ? aside : QString();
}

void noteFailure(const QString &path, const QString &reason)
{
    const QString marker = hiddenBeside(path, ".failed");
    QFile::remove(marker);
    // On a full disk the reason may not fit: an empty marker still tells the failure.
    if (!writeNew(marker, reason.toUtf8()))
        writeNew(marker, {});
}

std::optional<QString> notedFailure(const QString &path)
{
    QFile marker(hiddenBeside(path, ".failed"));
    if (!marker.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(marker.read(4096));
}

void clearFailure(const QString &path)
{
    QFile::remove(hiddenBeside(path, ".failed"));
}

bool ensureDirectory(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (!ensureDirectory(info.absolutePath()))
        return false;
    return QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void tightenFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return;
    if (::chmod(name.constData(), 0700) == 0)
        complain(QStringLiteral("other users could write to %1, so they could change the scripts "
                                "you run; it is now private to you (mode 0700)")
                     .arg(path));
    else
        complain(QStringLiteral("other users can write to %1, so they could change the scripts "
                                "you run, and it cannot be made private (%2)")
                     .arg(path, lastError()));
}

} // namespace storefiles
