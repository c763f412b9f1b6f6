// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/defaults.h"

#include "platform/homefolder.h"
#include "store/keys.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <future>
#include <limits>
#include <utility>

namespace {

// A write that another program keeps overtaking gives up after this many tries.
constexpr int kWriteAttempts = 3;

QString asText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return {};
    }
}

// A key and its value as Qt writes them indented inside the object, without "{\n" and "\n}\n",
// but U+FEFF escaped. In UTF-8 its bytes are that character and nothing else.
QByteArray memberText(const QString &key, const QJsonValue &value)
{
    const QByteArray alone =
        QJsonDocument(QJsonObject{{key, value}}).toJson(QJsonDocument::Indented);
    return alone.mid(2, alone.size() - 5).replace("\xEF\xBB\xBF", "\\ufeff");
}

} // namespace

Defaults::Defaults(const QString &filePath, QObject *parent)
    : Defaults(filePath, ReadAhead(), parent)
{}

Defaults::Defaults(const QString &filePath, ReadAhead ahead, QObject *parent)
    : QObject(parent)
    , file_(filePath)
{
    if (const std::optional<StoreFile::Contents> contents = file_.load(std::move(ahead)))
        adopt(*contents);
    connect(&file_, &StoreFile::changedOutside, this, &Defaults::followOutsideChange);
}

// The reading thread decodes the names too: the menu and the editor's table show them at once. The
// bodies are decoded one at a time, when a script runs or shows.
Defaults::ReadAhead Defaults::readAhead(const QString &filePath)
{
    return std::async(std::launch::async, [filePath] {
        StoreFile::Reading reading = StoreFile::readFile(filePath);
        if (reading.members && reading.members->arrays.contains(all_scripts_name))
            reading.members->arrays[all_scripts_name].toList();
        return reading;
    });
}

QString Defaults::standardFilePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = homeFolder() + QStringLiteral("/.config");
    return config + QStringLiteral("/zaprun/defaults.json");
}

bool Defaults::contains(const QString &key) const
{
    return arrays_.contains(key) || values_.contains(key);
}

std::optional<QStringList> Defaults::stringArrayForKey(const QString &key) const
{
    const auto found = arrays_.constFind(key);
    if (found != arrays_.constEnd())
        return found->toList();
    const QJsonValue value = values_.value(key);
    if (!value.isArray())
        return std::nullopt;
    QStringList strings;
    const QJsonArray array = value.toArray();
    strings.reserve(array.size());
    for (const QJsonValue &element : array)
        strings.append(asText(element));
    return strings;
}

std::optional<StringArray> Defaults::stringsForKey(const QString &key) const
{
    const auto found = arrays_.constFind(key);
    if (found != arrays_.constEnd())
        return *found;
    const std::optional<QStringList> strings = stringArrayForKey(key);
    return strings ? std::optional<StringArray>(*strings) : std::nullopt;
}

bool Defaults::boolForKey(const QString &key) const
{
    const QJsonValue value = values_.value(key);
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0;
    const QString text = value.toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("yes") ||
           text == QLatin1String("1");
}

qint64 Defaults::integerForKey(const QString &key) const
{
    const QJsonValue value = values_.value(key);
    if (value.isDouble()) {
        // A hand-edited number out of range saturates: converting it as it is would be undefined.
        const double number = value.toDouble();
        if (number >= 0x1p63)
            return std::numeric_limits<qint64>::max();
        if (number <= -0x1p63)
            return std::numeric_limits<qint64>::min();
        return qint64(number);
    }
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    return value.toString().trimmed().toLongLong();
}

void Defaults::setStringArray(const QString &key, const StringArray &value)
{
    setStringArrays({{key, value}});
}

void Defaults::setStringArrays(const QList<std::pair<QString, StringArray>> &values)
{
    QStringList keys;
    for (const auto &[key, value] : values)
        keys.append(key);
    store(keys, [&] {
        for (const auto &[key, value] : values)
            insert(key, value);
    });
}

void Defaults::setBool(const QString &key, bool value)
{
    store({key}, [&] { insert(key, QJsonValue(value)); });
}

void Defaults::setInteger(const QString &key, qint64 value)
{
    store({key}, [&] { insert(key, QJsonValue(value)); });
}

// The values go on top of the file as it stands, and the whole file is written once.
void Defaults::store(const QStringList &keys, const std::function<void()> &apply)
{
    StoreFile::Outcome outcome{StoreFile::Status::Overtaken, {}};
    for (int attempt = 0;
         attempt < kWriteAttempts && outcome.status == StoreFile::Status::Overtaken; ++attempt) {
        StoreFile::Outcome ready = followBeforeWriting(keys);
        if (ready.saved())
            ready = file_.prepareToWrite();
        apply();
        outcome = ready.saved() ? file_.write(serialized()) : ready;
    }
    file_.record(outcome);
    if (outcome.saved())
        failing_ = false;
    else if (!std::exchange(failing_, true))
        emit saveFailed(file_.path(), outcome.reason);
    for (qsizetype i = 0; i < keys.size(); ++i) // a change per key, as if each were set alone
        emit didChange();
}

void Defaults::insert(const QString &key, const QJsonValue &value)
{
    arrays_.remove(key);
    values_.insert(key, value);
    fragments_.remove(key);
}

// The elements that stay keep their text.
void Defaults::insert(const QString &key, StringArray value)
{
    values_.remove(key);
    value.text(arrays_.take(key));
    arrays_.insert(key, value);
}

// A file that a rewrite would change beyond the written keys (mistyped values, missing or
// unpaired names or bodies, unknown keys, a key written twice, bytes that are not UTF-8) is
// copied aside before
// ZapRun first writes over it. A file exactly as ZapRun writes it was copied already.
void Defaults::adopt(const StoreFile::Contents &contents)
{
    values_ = contents.members.values;
    arrays_ = contents.members.arrays;
    fragments_.clear();
    const bool asWritten = contents.bytes.isValidUtf8() && isUsableAsItStands() &&
                           contents.members.written == values_.size() + arrays_.size();
    file_.keepOriginalBeforeWriting(!asWritten && contents.bytes != serialized().join());
}

// A version changed outside is read first. When it changed the library while this write
// changes it too, this change was made without it: that version is kept aside.
StoreFile::Outcome Defaults::followBeforeWriting(const QStringList &keys)
{
    const QMap<QString, StringArray> arrays = arrays_;
    const QJsonObject values = values_;
    const std::optional<StoreFile::Contents> outside = file_.reloadIfChanged();
    if (!outside)
        return {};
    adopt(*outside);
    const auto unchanged = [&](const QString &key) {
        return arrays_.value(key) == arrays.value(key) &&
               arrays_.contains(key) == arrays.contains(key) &&
               values_.value(key) == values.value(key);
    };
    const bool library = keys.contains(all_scripts_name) || keys.contains(all_scripts);
    if (!library || (unchanged(all_scripts_name) && unchanged(all_scripts)))
        return {};
    return file_.keepConflict(outside->bytes);
}

void Defaults::synchronize()
{
    if (file_.mayHaveChanged())
        followOutsideChange();
}

void Defaults::followOutsideChange()
{
    if (const std::optional<StoreFile::Contents> contents = file_.reloadIfChanged()) {
        adopt(*contents);
        emit didChange();
    }
}

bool Defaults::isUsableAsItStands() const
{
    const QStringList known{all_scripts_name, all_scripts, sel_script, show_main};
    for (const QString &key : values_.keys() + arrays_.keys()) {
        if (!known.contains(key))
            return false;
    }
    if (values_.contains(all_scripts_name) || values_.contains(all_scripts))
        return false;
    if (values_.contains(sel_script) && !values_.value(sel_script).isDouble())
        return false;
    if (values_.contains(show_main) && !values_.value(show_main).isBool())
        return false;
    return lengthOf(all_scripts_name) == lengthOf(all_scripts);
}

qsizetype Defaults::lengthOf(const QString &key) const
{
    return arrays_.contains(key) ? arrays_.value(key).size() : values_.value(key).toArray().size();
}

// The same bytes as Qt writes the whole object indented, as pieces to be written in turn: the
// text of every array and every other value is kept between writes, so a write copies no bytes
// but into the file.
QByteArrayList Defaults::serialized()
{
    QStringList keys = values_.keys() + arrays_.keys();
    keys.sort();
    QByteArrayList pieces{QByteArrayLiteral("{\n")};
    for (const QString &key : keys) {
        if (pieces.size() > 1)
            pieces.append(QByteArrayLiteral(",\n"));
        const auto found = arrays_.find(key);
        if (found == arrays_.end()) {
            QByteArray &fragment = fragments_[key];
            if (fragment.isEmpty())
                fragment = memberText(key, values_.value(key));
            pieces.append(fragment);
            continue;
        }
        const QByteArray empty = memberText(key, QJsonArray());
        if (found->isEmpty()) {
            pieces.append(empty);
            continue;
        }
        pieces.append(empty.chopped(5)); // up to "[\n"
        pieces.append(found->text());
        pieces.append(QByteArrayLiteral("\n    ]"));
    }
    pieces.append(keys.isEmpty() ? QByteArrayLiteral("}\n") : QByteArrayLiteral("\n}\n"));
    return pieces;
}
