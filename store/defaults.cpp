// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/defaults.h"

#include "platform/homefolder.h"
#include "store/keys.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// A write that another program keeps overtaking gives up after this many tries.
constexpr int kWriteAttempts = 3;

// The library's arrays are only usable when they hold strings alone.
bool isStringArray(const QJsonValue &value)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(),
                       [](const QJsonValue &v) { return v.isString(); });
}

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

// How many members the JSON text gives its top-level object, repeated keys counted each time:
// the colons outside strings one level deep. The bytes of a string are skipped at memchr's pace.
qsizetype membersWritten(const QByteArray &text)
{
    qsizetype members = 0;
    int depth = 0;
    const char *end = text.constEnd();
    for (const char *p = text.constBegin(); p < end; ++p) {
        switch (*p) {
        case '"':
            for (++p; (p = static_cast<const char *>(std::memchr(p, '"', size_t(end - p)))); ++p) {
                const char *slash = p;
                while (slash[-1] == '\\')
                    --slash;
                if ((p - slash) % 2 == 0)
                    break;
            }
            if (!p)
                return members;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        case ':':
            members += depth == 1;
            break;
        default:
            break;
        }
    }
    return members;
}

// Qt's reader drops U+FEFF at the start of a string as a byte-order mark; escaped, it stays.
constexpr char16_t kByteOrderMark = 0xFEFF;

// How many bytes a character takes in JSON text as Qt writes it, U+FEFF escaped; 0 for a
// surrogate.
qsizetype escapedSize(char16_t c)
{
    if (c == kByteOrderMark)
        return 6;
    if (c >= 0x20 && c < 0x80)
        return c == u'"' || c == u'\\' ? 2 : 1;
    if (c < 0x20)
        return c >= 0x08 && c <= 0x0d && c != 0x0b ? 2 : 6; // \b \t \n \f \r, or \u00XX
    if (QChar::isSurrogate(c))
        return 0;
    return c < 0x800 ? 2 : 3;
}

char *appendEscaped(char16_t c, char *out)
{
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr char kShort[] = "btnvfr"; // for \b to \r, \v excepted
    if (c >= 0x20 && c < 0x80) {
        if (c == u'"' || c == u'\\')
            *out++ = '\\';
        *out++ = char(c);
    } else if (c < 0x20 || c == kByteOrderMark) {
        *out++ = '\\';
        if (c >= 0x08 && c <= 0x0d && c != 0x0b) {
            *out++ = kShort[c - 0x08];
        } else {
            *out++ = 'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                *out++ = kHex[c >> shift & 0xf];
        }
    } else if (c < 0x800) {
        *out++ = char(0xc0 | c >> 6);
        *out++ = char(0x80 | (c & 0x3f));
    } else {
        *out++ = char(0xe0 | c >> 12);
        *out++ = char(0x80 | (c >> 6 & 0x3f));
        *out++ = char(0x80 | (c & 0x3f));
    }
    return out;
}

// One element of an array as Qt writes it indented inside the object, escaped straight onto
// the end of the text: a body runs to tens of megabytes. Qt writes a text with surrogates, which
// it escapes when they do not pair.
void appendElementText(QByteArray &text, const QString &element)
{
    qsizetype size = 8 + 2;
    for (const QChar c : element) {
        const qsizetype n = escapedSize(c.unicode());
        if (n == 0) {
            const QByteArray alone =
                QJsonDocument(QJsonArray{element}).toJson(QJsonDocument::Compact);
            text += QByteArray(8, ' ') + alone.mid(1, alone.size() - 2);
            return;
        }
        size += n;
    }
    const qsizetype from = text.size();
    text.resize(from + size);
    char *out = std::fill_n(text.data() + from, 8, ' ');
    *out++ = '"';
    for (const QChar c : element)
        out = appendEscaped(c.unicode(), out);
    *out = '"';
}

bool sameData(const QString &a, const QString &b)
{
    return a.constData() == b.constData() && a.size() == b.size();
}

// Whether `after` is `before` without its element at `at`.
bool isOneRemoved(const QStringList &before, const QStringList &after, qsizetype at)
{
    if (after.size() != before.size() - 1)
        return false;
    for (qsizetype i = at; i < after.size(); ++i) {
        if (!sameData(before[i + 1], after[i]))
            return false;
    }
    return true;
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
        return found->list;
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

void Defaults::setStringArray(const QString &key, const QStringList &value)
{
    setStringArrays({{key, value}});
}

void Defaults::setStringArrays(const QList<std::pair<QString, QStringList>> &values)
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

void Defaults::insert(const QString &key, const QStringList &value)
{
    values_.remove(key);
    Strings before = arrays_.take(key);
    arrays_.insert(key,
                   before.written() ? edited(std::move(before), value) : Strings{value, {}, {}});
}

// Elements shared with the array stored before keep their text. An add appends to it, and a
// delete cuts the element out of it, in place; any other change copies the shared text once.
Defaults::Strings Defaults::edited(Strings before, const QStringList &value)
{
    const qsizetype old = before.list.size();
    qsizetype kept = 0;
    while (kept < value.size() && kept < old &&
           sameData(std::as_const(before.list)[kept], value[kept]))
        ++kept;
    Strings after{value, {}, {}};
    if (kept == old || kept == value.size()) {
        after.text = std::move(before.text);
        after.text.truncate(kept == 0 ? 0 : before.ends[kept - 1]);
        after.ends = std::move(before.ends);
        after.ends.resize(kept);
        after.append({});
    } else if (isOneRemoved(before.list, value, kept)) {
        const qsizetype removed = before.start(kept + 1) - before.start(kept);
        after.text = std::move(before.text);
        after.text.remove(before.start(kept), removed);
        after.ends = std::move(before.ends);
        after.ends.removeAt(kept);
        for (qsizetype i = kept; i < after.ends.size(); ++i)
            after.ends[i] -= removed;
    } else {
        after.text.reserve(before.text.size());
        after.append(before);
    }
    return after;
}

// Appends the elements not yet in the text. Each is the text of the same string in `before` at
// the same place or one place away, if `before` has it, or else escaped anew.
void Defaults::Strings::append(const Strings &before)
{
    const QStringList &strings = list; // read only: the caller's list stays shared
    for (qsizetype i = ends.size(); i < strings.size(); ++i) {
        if (i > 0)
            text += ",\n";
        qsizetype from = -1;
        for (const qsizetype j : {i, i + 1, i - 1}) {
            if (j >= 0 && j < before.list.size() && sameData(before.list[j], strings[i])) {
                from = j;
                break;
            }
        }
        if (from < 0)
            appendElementText(text, strings[i]);
        else
            text.append(before.text.constData() + before.start(from),
                        before.ends[from] - before.start(from));
        ends.append(text.size());
    }
}

// A file that a rewrite would change beyond the written keys (mistyped values, missing or
// unpaired names or bodies, unknown keys, a key written twice, bytes that are not UTF-8) is
// copied aside before
// ZapRun first writes over it. A file exactly as ZapRun writes it was copied already.
void Defaults::adopt(const StoreFile::Contents &contents)
{
    values_ = QJsonObject();
    arrays_.clear();
    fragments_.clear();
    for (auto it = contents.object.constBegin(); it != contents.object.constEnd(); ++it) {
        if (isStringArray(it.value())) {
            const QJsonArray array = it.value().toArray();
            QStringList list;
            list.reserve(array.size());
            for (const QJsonValue &element : array)
                list.append(element.toString());
            arrays_.insert(it.key(), Strings{list, {}, {}});
        } else {
            values_.insert(it.key(), it.value());
        }
    }
    const bool asWritten = contents.bytes.isValidUtf8() && isUsableAsItStands() &&
                           membersWritten(contents.bytes) == contents.object.size();
    file_.keepOriginalBeforeWriting(!asWritten && contents.bytes != serialized().join());
}

// A version changed outside is read first. When it changed the library while this write
// changes it too, this change was made without it: that version is kept aside.
StoreFile::Outcome Defaults::followBeforeWriting(const QStringList &keys)
{
    const QMap<QString, Strings> arrays = arrays_;
    const QJsonObject values = values_;
    const std::optional<StoreFile::Contents> outside = file_.reloadIfChanged();
    if (!outside)
        return {};
    adopt(*outside);
    const auto unchanged = [&](const QString &key) {
        return arrays_.value(key).list == arrays.value(key).list &&
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
    return arrays_.contains(key) ? arrays_.value(key).list.size()
                                 : values_.value(key).toArray().size();
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
        if (found->list.isEmpty()) {
            pieces.append(empty);
            continue;
        }
        if (!found->written()) {
            found->text.clear();
            found->ends.clear();
            found->append({});
        }
        pieces.append(empty.chopped(5)); // up to "[\n"
        pieces.append(found->text);
        pieces.append(QByteArrayLiteral("\n    ]"));
    }
    pieces.append(keys.isEmpty() ? QByteArrayLiteral("}\n") : QByteArrayLiteral("\n}\n"));
    return pieces;
}
