#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <optional>

// The persistent key-value store of ZapRun: one JSON object file, rewritten whole and atomically
// on every change. Observers of didChange() run synchronously, before the setter returns, and may
// write again from inside their slot.
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

private:
    void store(const QString &key, const QJsonValue &value);
    void load();
    void adopt(const QByteArray &bytes);
    void moveAside(const QString &why, const QString &problem);
    bool isUsableAsItStands(const QByteArray &bytes) const;
    void undoInterruptedChange();
    QString previousPath() const;
    void keepReplacedFile() const;
    bool save();
    QByteArray serialized();
    bool keepCopyOfOriginal();

    QString path_;
    QJsonObject values_;
    QHash<QString, QByteArray> fragments_;
    bool copyBeforeFirstWrite_ = false;
    bool fileIsPaired_ = true; // whether the file on disk, not memory, pairs names and bodies
};
