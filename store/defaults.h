// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/storefile.h"
#include "store/stringarray.h"

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

// The persistent key-value store of ZapRun: typed values under keys, and the change signal. Each
// change is one whole, atomic and durable write of the file (StoreFile keeps its life).
// Observers of didChange() run synchronously, before the setter returns, and may write again
// from inside their slot.
class Defaults : public QObject {
    Q_OBJECT

public:
    explicit Defaults(const QString &filePath, QObject *parent = nullptr);
    // Starts reading the file on another thread; the constructor below takes the result, so the
    // reading overlaps whatever the program does meanwhile.
    using ReadAhead = std::future<StoreFile::Reading>;
    static ReadAhead readAhead(const QString &filePath);
    Defaults(const QString &filePath, ReadAhead ahead, QObject *parent = nullptr);

    // $XDG_CONFIG_HOME/zaprun/defaults.json, or ~/.config/zaprun/defaults.json.
    static QString standardFilePath();

    QString filePath() const { return file_.path(); }

    // True when any value, of any type, is stored under the key.
    bool contains(const QString &key) const;
    // The strings stored under the key; nullopt when the key is missing or holds no array.
    std::optional<QStringList> stringArrayForKey(const QString &key) const;
    // The same, each string decoded only when read.
    std::optional<StringArray> stringsForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;

    void setStringArray(const QString &key, const StringArray &value);
    // Several arrays in one write, then the change signal once per array, as if each had been
    // set alone; but neither the observers nor a reader of the file ever see some of them changed
    // without the others.
    void setStringArrays(const QList<std::pair<QString, StringArray>> &values);
    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);

    // Reads the file again, and signals a change, unless its watch vouches that nothing changed:
    // cheap then. Called before a script runs, when the menu is about to show and at each
    // activation, so that what runs and shows is what the file holds even where no watch can be
    // made.
    void synchronize();

signals:
    void didChange();
    // A write failed. Said once, and again only after a later write has succeeded.
    void saveFailed(const QString &file, const QString &reason);

private:
    void store(const QStringList &keys, const std::function<void()> &apply);
    void insert(const QString &key, const QJsonValue &value);
    void insert(const QString &key, StringArray value);
    void adopt(const StoreFile::Contents &contents);
    StoreFile::Outcome followBeforeWriting(const QStringList &keys);
    void followOutsideChange();
    bool isUsableAsItStands() const;
    qsizetype lengthOf(const QString &key) const;
    QByteArrayList serialized();

    StoreFile file_;
    QJsonObject values_;                   // every value but the arrays of strings
    QMap<QString, StringArray> arrays_;    // the arrays of strings, kept as their JSON text
    QHash<QString, QByteArray> fragments_; // the JSON text of each of values_
    bool failing_ = false;
};
