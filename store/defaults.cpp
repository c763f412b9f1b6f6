#include "store/defaults.h"

#include "store/keys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <utility>

using storefiles::complain;

namespace {

// Outside writers often write in steps; a change is read once it has been quiet this long.
constexpr int kSettleMs = 150;
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

} // namespace

Defaults::Defaults(const QString &filePath, QObject *parent)
    : QObject(parent)
    , path_(filePath)
{
    storefiles::tightenFolder(QFileInfo(path_).absolutePath());
    failureNoted_ = storefiles::notedFailure(path_).has_value();
    load();
    // Changes can only be followed from an event loop.
    if (!QCoreApplication::instance())
        return;
    watcher_ = new QFileSystemWatcher(this);
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &Defaults::followOutsideChange);
    watch();
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
    QString reason;
    Saved saved = Saved::Overtaken;
    for (int attempt = 0; attempt < kWriteAttempts && saved == Saved::Overtaken; ++attempt) {
        const bool mayWrite = keepWhatAWriteWouldReplace(key, reason);
        values_.insert(key, value);
        fragments_.remove(key);
        saved = mayWrite ? save(reason) : Saved::Failed;
    }
    if (saved == Saved::Overtaken)
        reason = QStringLiteral("other programs kept changing it while ZapRun wrote it");
    if (saved == Saved::Yes)
        succeeded();
    else
        reportFailure(reason);
    emit didChange();
}

void Defaults::load()
{
    const storefiles::Version version = storefiles::read(path_);
    known_ = version.identity;
    if (!known_.exists())
        return; // first run, or a link whose target is still to be written
    QString problem = version.problem;
    if (!problem.isEmpty())
        damage_ = Damage{known_, QStringLiteral("unreadable"),
                         QStringLiteral("cannot read %1 (%2)").arg(path_, problem)};
    else if (!adopt(version.bytes, &problem))
        damage_ =
            Damage{known_, QStringLiteral("corrupt"),
                   QStringLiteral("%1 is not a valid settings file (%2)").arg(path_, problem)};
    if (damage_)
        setAside(QStringLiteral("ZapRun starts with an empty library"));
    else
        undoInterruptedChange();
}

// Bytes that are not UTF-8 are read as U+FFFD: one stray byte costs one character, not the
// library. The file itself is kept aside before the first write over it.
bool Defaults::adopt(const QByteArray &bytes, QString *problem)
{
    const QByteArray text = bytes.isValidUtf8() ? bytes : QString::fromUtf8(bytes).toUtf8();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = document.isNull() ? error.errorString() : QStringLiteral("not a JSON object");
        return false;
    }
    values_ = document.object();
    fragments_.clear();
    copyBeforeFirstWrite_ = needsCopyBeforeFirstWrite(bytes);
    fileIsPaired_ = libraryIsPaired(values_);
    return true;
}

// What cannot be read is never written over: it goes aside whole.
bool Defaults::setAside(const QString &outcome)
{
    const QString aside = storefiles::moveAside(path_, damage_->why);
    if (aside.isEmpty()) {
        complain(QStringLiteral("%1 and it cannot be moved aside; changes will not be saved")
                     .arg(damage_->problem));
        return false;
    }
    complain(QStringLiteral("%1; it was moved to %2 and %3").arg(damage_->problem, aside, outcome));
    damage_.reset();
    known_ = storefiles::identify(path_);
    return true;
}

// Reads the file again when it is not the version last read or written. Returns the bytes when
// they replaced the values in memory; a version that cannot be read leaves them as they are.
std::optional<QByteArray> Defaults::reloadIfChanged()
{
    const storefiles::Identity now = storefiles::identify(path_);
    if (now == known_ || (damage_ && damage_->identity == now))
        return std::nullopt;
    storefiles::Version version = now.exists() ? storefiles::read(path_) : storefiles::Version{};
    if (!version.identity.exists()) {
        // Deleted: what was read last is written again at the next change.
        known_ = version.identity;
        copyBeforeFirstWrite_ = false;
        return std::nullopt;
    }
    QString problem = version.problem;
    if (problem.isEmpty() && adopt(version.bytes, &problem)) {
        known_ = version.identity;
        damage_.reset();
        return std::move(version.bytes);
    }
    damage_ =
        Damage{version.identity,
               version.problem.isEmpty() ? QStringLiteral("corrupt") : QStringLiteral("unreadable"),
               QStringLiteral("%1 was changed by another program and cannot be read (%2)")
                   .arg(path_, problem)};
    complain(QStringLiteral("%1; ZapRun keeps the library it read before and moves the file "
                            "aside before it next saves")
                 .arg(damage_->problem));
    return std::nullopt;
}

// Before a write: a version that ZapRun has not read is read first, one that cannot be read goes
// aside, and a file that the write would change beyond its key is copied aside once.
bool Defaults::keepWhatAWriteWouldReplace(const QString &key, QString &reason)
{
    if (!followBeforeWriting(key, reason))
        return false;
    if (damage_ && storefiles::identify(path_) == damage_->identity &&
        !setAside(QStringLiteral("ZapRun saves the library it read before in its place"))) {
        reason = QStringLiteral("it cannot be read and cannot be moved aside");
        return false;
    }
    if (copyBeforeFirstWrite_ && !keepCopyOfOriginal()) {
        reason = QStringLiteral("no copy of its entries that ZapRun cannot use could be kept");
        return false;
    }
    return true;
}

// The key goes on top of a version changed outside. When that version changed the library
// while ZapRun was changing it too, ZapRun's change was made without it: it is kept aside.
bool Defaults::followBeforeWriting(const QString &key, QString &reason)
{
    const QJsonValue names = values_.value(all_scripts_name);
    const QJsonValue bodies = values_.value(all_scripts);
    const std::optional<QByteArray> outside = reloadIfChanged();
    if (!outside || (key != all_scripts_name && key != all_scripts) ||
        (values_.value(all_scripts_name) == names && values_.value(all_scripts) == bodies))
        return true;
    const QString aside = storefiles::keepAside(path_, QStringLiteral("conflict"), *outside);
    if (aside.isEmpty()) {
        reason = QStringLiteral("another program changed it and no copy of its version could "
                                "be kept");
        return false;
    }
    copyBeforeFirstWrite_ = false;
    complain(QStringLiteral("another program changed the script library in %1 while ZapRun was "
                            "changing it; its version was kept at %2")
                 .arg(path_, aside));
    return true;
}

void Defaults::followOutsideChange()
{
    const bool changed = reloadIfChanged().has_value();
    watch();
    if (changed)
        emit didChange();
}

// A watch follows one version of the file: once it was replaced, the new one is watched. The
// folder's watch sees files renamed into place.
void Defaults::watch()
{
    if (!watcher_ || watched_ == known_)
        return;
    watched_ = known_;
    const QString folder = QFileInfo(path_).absolutePath();
    if (!watcher_->directories().contains(folder) && QFileInfo(folder).isDir())
        watcher_->addPath(folder);
    if (watcher_->files().contains(path_) || watcher_->directories().contains(path_))
        watcher_->removePath(path_);
    if (known_.exists())
        watcher_->addPath(path_);
}

// Adding and deleting write the names, then the bodies. A write that failed or was cut short
// between the two leaves names that no longer pair with the bodies, and every later script
// would run another's text. The last paired file, kept beside the store, tells which names
// belong to these bodies.
void Defaults::undoInterruptedChange()
{
    QFile file(storefiles::previousPath(path_));
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
    fragments_.remove(all_scripts_name);
    copyBeforeFirstWrite_ = true;
    const std::optional<QString> failure = storefiles::notedFailure(path_);
    if (failure)
        complain(
            QStringLiteral("the last change to the script library in %1 could not be saved "
                           "(%2); it was undone")
                .arg(path_, failure->isEmpty() ? QStringLiteral("no reason was kept") : *failure));
    else
        complain(QStringLiteral("the last change to the script library in %1 was interrupted "
                                "before it was complete (ZapRun or the computer stopped during "
                                "it); it was undone")
                     .arg(path_));
}

// A file that a rewrite would change beyond the edited key (mistyped values, missing or unpaired
// names or bodies, unknown keys, bytes that are not UTF-8) is copied aside before ZapRun first
// writes over it. Unknown keys stay in the file. A file exactly as ZapRun writes it was copied
// already, before ZapRun first wrote it, and is not copied again at every start.
bool Defaults::needsCopyBeforeFirstWrite(const QByteArray &bytes)
{
    return (!bytes.isValidUtf8() || !isUsableAsItStands()) && bytes != serialized();
}

bool Defaults::isUsableAsItStands() const
{
    const QStringList known{all_scripts_name, all_scripts, sel_script, show_main};
    for (auto it = values_.constBegin(); it != values_.constEnd(); ++it) {
        if (!known.contains(it.key()))
            return false;
    }
    for (const QString &key : {all_scripts_name, all_scripts}) {
        if (values_.contains(key) && !isStringArray(values_.value(key)))
            return false;
    }
    if (values_.contains(sel_script) && !values_.value(sel_script).isDouble())
        return false;
    if (values_.contains(show_main) && !values_.value(show_main).isBool())
        return false;
    return libraryIsPaired(values_);
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
    const storefiles::Version version = storefiles::read(path_);
    const QString aside =
        version.problem.isEmpty()
            ? storefiles::keepAside(path_, QStringLiteral("original"), version.bytes)
            : QString();
    if (aside.isEmpty()) {
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

Defaults::Saved Defaults::save(QString &reason)
{
    const QString folder = QFileInfo(path_).absolutePath();
    QSaveFile file(path_);
    storefiles::tightenFolder(folder); // it may have been opened since the start
    if (!storefiles::ensureDirectory(folder))
        reason = QStringLiteral("cannot create the folder %1").arg(folder);
    else if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), 0600) != 0)
        reason = file.errorString();
    else if (!writeWhole(file, serialized())) // Qt's message is often "Unknown error"
        reason = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
    else
        return commit(file, reason);
    return Saved::Failed;
}

// The new version goes into place only while the file is still the version read last; when
// another program replaced it meanwhile, nothing is replaced (Overtaken).
Defaults::Saved Defaults::commit(QSaveFile &file, QString &reason)
{
    const storefiles::Identity written = storefiles::identify(file.handle());
    if (storefiles::identify(path_) != known_)
        return Saved::Overtaken;
    if (fileIsPaired_)
        storefiles::keepReplaced(path_);
    if (!file.commit()) {
        reason = file.errorString();
        return Saved::Failed;
    }
    known_ = written; // not the path's: another program may have replaced it since
    fileIsPaired_ = libraryIsPaired(values_);
    watch();
    return Saved::Yes;
}

void Defaults::succeeded()
{
    failing_ = false;
    if (std::exchange(failureNoted_, false))
        storefiles::clearFailure(path_);
}

// Said on standard error every time, and to observers once until a write succeeds again. The
// next start reads the note beside the store.
void Defaults::reportFailure(const QString &reason)
{
    complain(QStringLiteral("could not save to %1 (%2); the change lasts only until ZapRun quits")
                 .arg(path_, reason));
    storefiles::noteFailure(path_, reason);
    failureNoted_ = true;
    if (!std::exchange(failing_, true))
        emit saveFailed(path_, reason);
}
