// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The POSIX steps behind StoreFile: identities of versions, private copies beside the store and
// the note of a failed write. storefile.h lists every file they may leave.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace storefiles {

// What tells one version of a file from another without reading it; size -1 when there is none.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    qint64 modifiedNs = 0;

    bool exists() const { return size >= 0; }
    bool operator==(const Identity &) const = default;
};

// A digest of bytes given in pieces of any size: the same bytes give the same digest however
// they were cut. Quick (the file is digested at every write), not cryptographic: it tells one
// version of the file from another whatever their metadata say.
class Digest {
public:
    void add(QByteArrayView bytes);
    size_t result() const;

private:
    static constexpr qsizetype kBlock = 64 * 1024;
    QByteArray block_;
    size_t hash_ = 0;
    qint64 size_ = 0;
};

// A version of the file as read: its bytes and their digest, or why it cannot be read.
struct Version {
    Identity identity;
    QByteArray bytes;
    QString problem;
    size_t digest = 0;
};

void complain(const QString &line);

// Follows a link, as reading and writing do.
Identity identify(const QString &path);
Identity identify(int fd);
// How many names the file has: more than one when it is hard-linked.
qint64 linkCount(const QString &path);
// A file that is still the known version (its size, and bytes of its digest) is not kept: the
// version holds the digest alone.
Version read(const QString &path, const Identity &known = {}, size_t knownDigest = 0);

// Renames path aside and makes it private; the new name, or an empty string.
QString moveAside(const QString &path, const QString &why);
// Writes bytes to a new private file beside path; the new name, or an empty string.
QString keepAside(const QString &path, const QString &why, const QByteArray &bytes);

void noteFailure(const QString &path, const QString &reason);
// The reason of the last failed write, while no write has succeeded since.
std::optional<QString> notedFailure(const QString &path);
void clearFailure(const QString &path);

bool ensureDirectory(const QString &path);
// A folder of ZapRun's own that other users may write to is made 0700, and stderr says so.
void tightenFolder(const QString &path);

} // namespace storefiles
