// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The life of the store's file, defaults.json: reading it, writing it whole and durably,
// following other programs' changes, and keeping aside whatever a write must not replace. It
// knows nothing of keys, and returns every error to its caller.
//
// The files it may leave beside defaults.json. Each is 0600 (a folder moved aside 0700); STAMP is
// the local time, yyyyMMdd-HHmmss, with -N added when that name is taken, so that nothing
// already there is ever overwritten.
//
// | File                           | Why it is there                                             |
// |--------------------------------|-------------------------------------------------------------|
// | .defaults.json.failed          | a write failed (its reason, told at the next start); gone   |
// |                                | after the next good write                                   |
// | defaults.json.XXXXXX           | a write in progress; left only when ZapRun is killed in it  |
// | defaults.json.corrupt-STAMP    | a file that is not a JSON object, moved aside whole, at     |
// |                                | start or before a write                                     |
// | defaults.json.unreadable-STAMP | a folder or unreadable file in the store's place, moved     |
// | defaults.json.original-STAMP   | a copy, made before the first write, of a file that writing |
// |                                | would change beyond the written keys: mistyped values,      |
// |                                | missing or unpaired names or bodies, unknown keys, a key    |
// |                                | written twice, bytes that are not UTF-8                     |
// | defaults.json.conflict-STAMP   | a copy of a library that another program changed while      |
// |                                | ZapRun was changing it                                      |

#include "store/members.h"
#include "store/storefiles.h"

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <future>
#include <optional>

class QFileSystemWatcher;
class QSaveFile;

class StoreFile : public QObject {
    Q_OBJECT

public:
    // A version of the file that reads as a JSON object.
    struct Contents {
        Members members;
        QByteArray bytes;
    };
    enum class Status { Saved, Failed, Overtaken };
    struct Outcome {
        Status status = Status::Saved;
        QString reason; // when not saved
        bool saved() const { return status == Status::Saved; }
    };

    // A version of the file as read and parsed, with no side effects: made on any thread.
    struct Reading {
        storefiles::Version version;
        std::optional<Members> members;
        QString problem; // why the bytes are not a JSON object
    };
    static Reading readFile(const QString &path);
    static Reading parsed(storefiles::Version version);

    explicit StoreFile(const QString &path, QObject *parent = nullptr);

    QString path() const { return path_; }

    // The file as it is at start; nothing when it is missing, or damaged (then moved aside).
    std::optional<Contents> load(std::future<Reading> ahead = {});
    // The version another program wrote since the last read or write, when it can be read. The
    // bytes decide: a rewrite that keeps the size and the times is a new version.
    std::optional<Contents> reloadIfChanged();
    // False only while the file's watch vouches that nothing changed since the last read or write.
    bool mayHaveChanged() const { return !watcher_ || watchFailed_ || settle_.isActive(); }
    // Whether the next write must first keep a copy of the file as it stands.
    void keepOriginalBeforeWriting(bool keep) { copyBeforeFirstWrite_ = keep; }
    // Moves a damaged version aside and keeps the copy asked for, before a write replaces them.
    Outcome prepareToWrite();
    // Keeps another program's version of the file aside: a write is about to replace it.
    Outcome keepConflict(const QByteArray &bytes);
    // The pieces, in order, become the file's new version, unless another program replaced the
    // version last read in the meantime (Overtaken: nothing was replaced).
    Outcome write(const QByteArrayList &pieces);
    // Notes a change's final outcome beside the file, for the next start.
    void record(const Outcome &outcome);

signals:
    // Another program changed the file and has stopped writing: call reloadIfChanged().
    void changedOutside();

private:
    // A version of the file that cannot be read, seen while running: left in place until the
    // next write moves it aside.
    struct Damage {
        storefiles::Identity identity;
        size_t digest = 0;
        QString why;
        QString problem;
        bool told = false; // seen while running: told once it has stayed so for a settle
    };

    std::optional<Contents> parse(Reading reading, QString &problem);
    bool setAside(const QString &outcome);
    bool keepCopyOfOriginal();
    Outcome commit(QSaveFile &file, size_t digest);
    void watch();
    QStringList pathsToWatch() const;
    bool watchPath(const QString &path);

    QString path_;
    storefiles::Identity known_; // the version last read or written
    size_t knownDigest_ = 0;
    std::optional<Damage> damage_;
    bool copyBeforeFirstWrite_ = false;
    bool failureNoted_ = false;
    bool linkReplacedTold_ = false;
    QFileSystemWatcher *watcher_ = nullptr;
    QHash<QString, storefiles::Identity> watched_; // the node each watched path had
    bool watchFailed_ = false;
    QTimer settle_;
};
