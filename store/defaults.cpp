#include "store/defaults.h"

#include "store/keys.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void complain(const QString &line)
{
    std::fprintf(stderr, "zaprun: %s\n", qPrintable(line));
}

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

// QSaveFile::commit() renames its file into place even when the final flush failed, and a short
// write (a full disk, a file size limit) reports no error: either would replace the store with
// a truncated file. So every byte must be written and flushed before the commit.
bool writeWhole(QSaveFile &file, const QByteArray &bytes)
{
    errno = 0;
    return file.write(bytes) == bytes.size() && file.flush();
}

// Names and bodies pair up: arrays of one length, or neither there.
bool libraryIsPaired(const QJsonObject &values)
{
    return values.value(all_scripts_name).toArray().size() ==
           values.value(all_scripts).toArray().size();
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

} // namespace

Defaults::Defaults(const QString &filePath, QObject *parent)
    : QObject(parent)
    , path_(filePath)
{
    load();
}

QString Defaults::standardFilePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/zaprun/defaults.json");
}

bool Defaults::contains(const QString &key) const
{
    return values_.contains(key);
}

std::optional<QStringList> Defaults::stringArrayForKey(const QString &key) const
{
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
    store(key, QJsonArray::fromStringList(value));
}

void Defaults::setBool(const QString &key, bool value)
{
    store(key, value);
}

void Defaults::setInteger(const QString &key, qint64 value)
{
    store(key, value);
}

void Defaults::store(const QString &key, const QJsonValue &value)
{
    values_.insert(key, value);
    fragments_.remove(key);
    save();
    emit didChange();
}

void Defaults::load()
{
    const QFileInfo info(path_);
    if (!info.exists())
        return; // first run, or a link whose target is still to be written
    QFile file(path_);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        moveAside(QStringLiteral("unreadable"),
                  QStringLiteral("cannot read %1 (%2)")
                      .arg(path_, info.isDir() ? QStringLiteral("it is a directory")
                                               : file.errorString()));
        return;
    }
    adopt(file.readAll());
}

void Defaults::adopt(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        const QString reason =
            document.isNull() ? error.errorString() : QStringLiteral("not a JSON object");
        moveAside(QStringLiteral("corrupt"),
                  QStringLiteral("%1 is not a valid settings file (%2)").arg(path_, reason));
        return;
    }
    values_ = document.object();
    copyBeforeFirstWrite_ = !isUsableAsItStands(bytes);
    fileIsPaired_ = libraryIsPaired(values_);
    undoInterruptedChange();
}

// Adding and deleting write the names, then the bodies. A crash between the two leaves names
// that no longer pair with the bodies, and every later script would run another's text. The
// last paired file, kept beside the store, tells which names belong to these bodies.
void Defaults::undoInterruptedChange()
{
    QFile file(previousPath());
    if (libraryIsPaired(values_) || !file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject previous = QJsonDocument::fromJson(file.readAll()).object();
    const qsizetype names = values_.value(all_scripts_name).toArray().size();
    const qsizetype earlier = previous.value(all_scripts_name).toArray().size();
    if (!libraryIsPaired(previous) || qAbs(names - earlier) != 1 ||
        previous.value(all_scripts) != values_.value(all_scripts))
        return;
    if (previous.contains(all_scripts_name))
        values_.insert(all_scripts_name, previous.value(all_scripts_name));
    else
        values_.remove(all_scripts_name);
    complain(QStringLiteral("the last change to the script library in %1 was cut short by a crash; "
                            "it was undone")
                 .arg(path_));
}

QString Defaults::previousPath() const
{
    const QFileInfo info(path_);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() +
           QStringLiteral(".previous");
}

// Links the file about to be replaced under previousPath(); it only helps recovery, so a
// failure (another file system behind a link, say) is no error.
void Defaults::keepReplacedFile() const
{
    const QByteArray current = QFile::encodeName(path_);
    const QByteArray previous = QFile::encodeName(previousPath());
    ::unlink(previous.constData());
    ::linkat(AT_FDCWD, current.constData(), AT_FDCWD, previous.constData(), AT_SYMLINK_FOLLOW);
}

// What cannot be read is never written over: it goes aside whole and ZapRun starts empty.
void Defaults::moveAside(const QString &why, const QString &problem)
{
    const QString aside = asideName(path_, why);
    if (QFile::rename(path_, aside))
        complain(QStringLiteral("%1; it was moved to %2 and ZapRun starts with an empty library")
                     .arg(problem, aside));
    else
        complain(QStringLiteral("%1 and it cannot be moved aside; changes will not be saved")
                     .arg(problem));
}

// A file that a rewrite would change beyond the edited key (mistyped values, unpaired arrays,
// bytes that are not UTF-8) is copied aside before ZapRun first writes over it.
bool Defaults::isUsableAsItStands(const QByteArray &bytes) const
{
    if (!bytes.isValidUtf8())
        return false;
    for (const QString &key : {all_scripts_name, all_scripts}) {
        if (values_.contains(key) && !isStringArray(values_.value(key)))
            return false;
    }
    if (values_.contains(sel_script) && !values_.value(sel_script).isDouble())
        return false;
    if (values_.contains(show_main) && !values_.value(show_main).isBool())
        return false;
    if (values_.contains(all_scripts_name) && values_.contains(all_scripts))
        return values_.value(all_scripts_name).toArray().size() ==
               values_.value(all_scripts).toArray().size();
    return true;
}

// The same bytes as the whole object written indented, but each key's text is kept between
// writes: storing one key leaves the others, the script bodies above all, as they were.
// The library runs to megabytes: the text is assembled in one buffer of the final size, since
// every extra copy of it costs as much as the write itself.
QByteArray Defaults::serialized()
{
    qsizetype size = 2 + 3; // "{\n" and "\n}\n"
    for (auto it = values_.constBegin(); it != values_.constEnd(); ++it) {
        QByteArray &fragment = fragments_[it.key()];
        if (fragment.isEmpty()) {
            const QByteArray alone =
                QJsonDocument(QJsonObject{{it.key(), it.value()}}).toJson(QJsonDocument::Indented);
            fragment = alone.mid(2, alone.size() - 5); // without "{\n" and "\n}\n"
        }
        size += fragment.size() + 2; // and ",\n"
    }
    QByteArray text;
    text.reserve(size);
    text += "{\n";
    for (auto it = values_.constBegin(); it != values_.constEnd(); ++it) {
        if (it != values_.constBegin())
            text += ",\n";
        text += fragments_.value(it.key());
    }
    text += "\n}\n";
    return text;
}

bool Defaults::keepCopyOfOriginal()
{
    const QString aside = asideName(path_, QStringLiteral("original"));
    if (!QFile::copy(path_, aside)) {
        complain(QStringLiteral("%1 holds entries that ZapRun cannot use as they stand and no "
                                "copy of it could be kept; it is left untouched")
                     .arg(path_));
        return false;
    }
    copyBeforeFirstWrite_ = false;
    complain(QStringLiteral("%1 held entries that ZapRun cannot use as they stand; the original "
                            "file was kept at %2")
                 .arg(path_, aside));
    return true;
}

bool Defaults::save()
{
    if (copyBeforeFirstWrite_ && !keepCopyOfOriginal())
        return false;
    const QString folder = QFileInfo(path_).absolutePath();
    QString reason;
    QSaveFile file(path_);
    if (!ensureDirectory(folder))
        reason = QStringLiteral("cannot create the folder %1").arg(folder);
    else if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), 0600) != 0)
        reason = file.errorString();
    else if (!writeWhole(file, serialized()))
        reason = file.error() != QFileDevice::NoError
                     ? file.errorString()
                     : QString::fromLocal8Bit(std::strerror(errno));
    else {
        if (fileIsPaired_)
            keepReplacedFile();
        if (!file.commit())
            reason = file.errorString();
    }
    if (reason.isEmpty()) {
        fileIsPaired_ = libraryIsPaired(values_);
        return true;
    }
    complain(QStringLiteral("could not save to %1 (%2); the change lasts only until ZapRun quits")
                 .arg(path_, reason));
    return false;
}
