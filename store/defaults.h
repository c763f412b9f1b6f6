#pragma once

#include "store/storefiles.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

class QFileSystemWatcher;
class QSaveFile;

// The persistent key-value store of ZapRun: one JSON object file, rewritten whole and atomically
// on every change. Observers of didChange() run synchronously, before the setter returns, and may
// write again from inside their slot. The file is shared with other programs: their changes are
// followed, and a write never replaces a version of the file that was not read first.
class Defaults : public QObject {
    Q_OBJECT

public:
    explicit Defaults(const QString &filePath, QObject *parent = nullptr);

    // $XDG_CONFIG_HOME/zaprun/defaults.json, or ~/.config/zaprun/defaults.json.
    static QString standardFilePath();

    QString filePath() const { return path_; }

    // True when any value, of any type, is stored under the key.
    bool contains(const QString &key) const;
    // The strings stored under the key; nullopt when the key is missing or holds no array.
    std::optional<QStringList> stringArrayForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;

    void setStringArray(const QString &key, const QStringList &value);
    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);

signals:
    void didChange();
    // A write failed. Said once, and again only after a later write has succeeded.
    void saveFailed(const QString &file, const QString &reason);

private:
    enum class Saved { Yes, Failed, Overtaken };
    // A version of the file that cannot be read, seen while running: left in place until the
    // next write moves it aside.
    struct Damage {
        storefiles::Identity identity;
        QString why;
        QString problem;
    };

    void store(const QString &key, const QJsonValue &value);
    void load();
    bool adopt(const QByteArray &bytes, QString *problem);
    bool setAside(const QString &outcome);
    std::optional<QByteArray> reloadIfChanged();
    bool keepWhatAWriteWouldReplace(const QString &key, QString &reason);
    bool followBeforeWriting(const QString &key, QString &reason);
    void followOutsideChange();
    void watch();
    bool needsCopyBeforeFirstWrite(const QByteArray &bytes);
    bool isUsableAsItStands() const;
    void undoInterruptedChange();
    Saved save(QString &reason);
    Saved commit(QSaveFile &file, QString &reason);
    void succeeded();
    void reportFailure(const QString &reason);
    QByteArray serialized();
    bool keepCopyOfOriginal();

    QString path_;
    QJsonObject values_;
    QHash<QString, QByteArray> fragments_;
    storefiles::Identity known_; // the version that values_ were read from or written to
    std::optional<Damage> damage_;
    bool copyBeforeFirstWrite_ = false;
    bool fileIsPaired_ = true; // whether the file on disk, not memory, pairs names and bodies
    bool failing_ = false;
    bool failureNoted_ = false;
    QFileSystemWatcher *watcher_ = nullptr;
    std::optional<storefiles::Identity> watched_;
    QTimer settle_;
};
