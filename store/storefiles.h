#pragma once

// The files that ZapRun may leave beside its store, defaults.json. Each is 0600 (a folder moved
// aside 0700); STAMP is the local time, yyyyMMdd-HHmmss, with -N added when that name is taken,
// so that nothing already there is ever overwritten.
//
// | File                           | Why it is there                                             |
// |--------------------------------|-------------------------------------------------------------|
// | .defaults.json.previous        | a link to the version that the last write replaced: an add  |
// |                                | or delete cut short between its two writes is undone at the |
// |                                | next start                                                  |
// | .defaults.json.failed          | a write failed (its reason); gone after the next good write |
// |                                | so the next start tells a failed write from an interrupted  |
// | defaults.json.XXXXXX           | a write in progress; left only when ZapRun is killed in it  |
// | defaults.json.corrupt-STAMP    | a file that is not a JSON object, moved aside whole, at     |
// |                                | start or before a write                                     |
// | defaults.json.unreadable-STAMP | a folder or unreadable file in the store's place, moved     |
// | defaults.json.original-STAMP   | a copy, made before the first write, of a file that writing |
// |                                | would change beyond the written key: mistyped values,       |
// |                                | missing or unpaired names or bodies, unknown keys, bytes    |
// |                                | that are not UTF-8                                          |
// | defaults.json.conflict-STAMP   | a copy of a library that another program changed while      |
// |                                | ZapRun was changing it                                      |

#include <QByteArray>
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

// A version of the file as read: its bytes, or why it cannot be read.
struct Version {
    Identity identity;
    QByteArray bytes;
    QString problem;
};

void complain(const QString &line);

// Follows a link, as reading and writing do.
Identity identify(const QString &path);
Identity identify(int fd);
Version read(const QString &path);

// Renames path aside and makes it private; the new name, or an empty string.
QString moveAside(const QString &path, const QString &why);
// Writes bytes to a new private file beside path; the new name, or an empty string.
QString keepAside(const QString &path, const QString &why, const QByteArray &bytes);

QString previousPath(const QString &path);
// Links the file about to be replaced as previousPath(); it only helps recovery, so a failure
// (another file system behind a link, say) is no error.
void keepReplaced(const QString &path);

void noteFailure(const QString &path, const QString &reason);
// The reason of the last failed write, while no write has succeeded since.
std::optional<QString> notedFailure(const QString &path);
void clearFailure(const QString &path);

bool ensureDirectory(const QString &path);
// A folder of ZapRun's own that other users may write to is made 0700, and stderr says so.
void tightenFolder(const QString &path);

} // namespace storefiles
