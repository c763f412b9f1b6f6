// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/storefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using storefiles::complain;

namespace {

// Outside writers often write in steps; a change is read once it has been quiet this long.
constexpr int kSettleMs = 150;

// QSaveFile::commit() renames its file into place even when the final flush failed, and a short
// write (a full disk, a file size limit) reports no error: either would replace the store with
// a truncated file. So every byte must be written and flushed before the commit. The pieces
// are written in turn, unbuffered, from where they are kept: no copy of the file's bytes.
bool writeWhole(QSaveFile &file, const QByteArrayList &pieces, storefiles::Digest &digest)
{
    errno = 0;
    return std::all_of(pieces.begin(), pieces.end(),
                       [&](const QByteArray &piece) {
                           digest.add(piece);
                           return file.write(piece) == piece.size();
                       }) &&
           file.flush();
}

// Whether the version is the one seen before: the same bytes, or, when it cannot be read, the same
// file.
bool isSeen(const storefiles::Version &version, const storefiles::Identity &identity, size_t digest)
{
    if (!version.identity.exists() || !identity.exists())
        return version.identity.exists() == identity.exists();
    if (!version.problem.isEmpty())
        return version.identity == identity;
    return version.identity.size == identity.size && version.digest == digest;
}

bool sameNode(const storefiles::Identity &a, const storefiles::Identity &b)
{
    return a.device == b.device && a.inode == b.inode;
}

} // namespace

StoreFile::StoreFile(const QString &path, QObject *parent)
    : QObject(parent)
    , path_(path)
{
    storefiles::tightenFolder(QFileInfo(path_).absolutePath());
    // Changes can only be followed from an event loop.
    if (!QCoreApplication::instance())
        return;
    watcher_ = new QFileSystemWatcher(this);
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &StoreFile::changedOutside);
}

// Bytes that are not UTF-8 are read as U+FFFD: one stray byte costs one character, not the
// library.
StoreFile::Reading StoreFile::readFile(const QString &path)
{
    return parsed(storefiles::read(path));
}

StoreFile::Reading StoreFile::parsed(storefiles::Version version)
{
    Reading reading{std::move(version), {}, {}};
    const QByteArray &bytes = reading.version.bytes;
    if (!reading.version.identity.exists() || !reading.version.problem.isEmpty())
        return reading;
    reading.members = members::readPlain(bytes);
    if (reading.members)
        return reading;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        bytes.isValidUtf8() ? bytes : QString::fromUtf8(bytes).toUtf8(), &error);
    if (document.isObject())
        reading.members = members::fromObject(document.object(), bytes);
    else
        reading.problem =
            document.isNull() ? error.errorString() : QStringLiteral("not a JSON object");
    return reading;
}

std::optional<StoreFile::Contents> StoreFile::load(std::future<Reading> ahead)
{
    const std::optional<QString> failure = storefiles::notedFailure(path_);
    failureNoted_ = failure.has_value();
    if (failure)
        complain(
            QStringLiteral("the last change to %1 could not be saved (%2); the file holds "
                           "the version before it")
                .arg(path_, failure->isEmpty() ? QStringLiteral("no reason was kept") : *failure));
    Reading reading = ahead.valid() ? ahead.get() : readFile(path_);
    known_ = reading.version.identity;
    knownDigest_ = reading.version.digest;
    std::optional<Contents> contents;
    if (known_.exists()) { // else a first run, or a link whose target is still to be written
        QString problem;
        contents = parse(std::move(reading), problem);
    }
    if (damage_)
        setAside(QStringLiteral("ZapRun starts with an empty library"));
    watch();
    return contents;
}

// What cannot be read is noted as damage, and problem says why.
std::optional<StoreFile::Contents> StoreFile::parse(Reading reading, QString &problem)
{
    storefiles::Version &version = reading.version;
    if (!version.problem.isEmpty()) {
        problem = version.problem;
        damage_ = Damage{version.identity, version.digest, QStringLiteral("unreadable"),
                         QStringLiteral("cannot read %1 (%2)").arg(path_, problem)};
        return std::nullopt;
    }
    if (reading.members)
        return Contents{std::move(*reading.members), std::move(version.bytes)};
    problem = reading.problem;
    damage_ = Damage{version.identity, version.digest, QStringLiteral("corrupt"),
                     QStringLiteral("%1 is not a valid settings file (%2)").arg(path_, problem)};
    return std::nullopt;
}

// What cannot be read is never written over: it goes aside whole.
bool StoreFile::setAside(const QString &outcome)
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
    knownDigest_ = 0;
    return true;
}

std::optional<StoreFile::Contents> StoreFile::reloadIfChanged()
{
    settle_.stop();
    storefiles::Version version = storefiles::read(path_, known_, knownDigest_);
    const bool damaged = damage_ && isSeen(version, damage_->identity, damage_->digest);
    if (damaged || isSeen(version, known_, knownDigest_)) {
        // Touched at most: the next write may replace it, or move the damaged one aside.
        (damaged ? damage_->identity : known_) = version.identity;
        if (damaged && !std::exchange(damage_->told, true))
            complain(QStringLiteral("%1; ZapRun keeps the library it read before and moves the "
                                    "file aside before it next saves")
                         .arg(damage_->problem));
        watch();
        return std::nullopt;
    }
    const storefiles::Identity identity = version.identity;
    const size_t digest = version.digest;
    std::optional<Contents> contents;
    if (!identity.exists()) {
        // Deleted: what was read last is written again at the next change.
        known_ = identity;
        copyBeforeFirstWrite_ = false;
    } else if (QString problem; (contents = parse(parsed(std::move(version)), problem))) {
        known_ = identity;
        knownDigest_ = digest;
        damage_.reset();
    } else {
        damage_->problem =
            QStringLiteral("%1 was changed by another program and cannot be read (%2)")
                .arg(path_, problem);
        settle_.start(); // told when it stays so: an editor saving in place may not be done
    }
    watch();
    return contents;
}

StoreFile::Outcome StoreFile::prepareToWrite()
{
    if (damage_ && storefiles::identify(path_) == damage_->identity &&
        !setAside(QStringLiteral("ZapRun saves the library it read before in its place")))
        return {Status::Failed, QStringLiteral("it cannot be read and cannot be moved aside")};
    if (copyBeforeFirstWrite_ && !keepCopyOfOriginal())
        return {Status::Failed,
                QStringLiteral("no copy of its entries that ZapRun cannot use could be kept")};
    return {};
}

bool StoreFile::keepCopyOfOriginal()
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

StoreFile::Outcome StoreFile::keepConflict(const QByteArray &bytes)
{
    const QString aside = storefiles::keepAside(path_, QStringLiteral("conflict"), bytes);
    if (aside.isEmpty())
        return {Status::Failed, QStringLiteral("another program changed it and no copy of its "
                                               "version could be kept")};
    copyBeforeFirstWrite_ = false; // the copy holds the original
    complain(QStringLiteral("another program changed the script library in %1 while ZapRun was "
                            "changing it; its version was kept at %2")
                 .arg(path_, aside));
    return {};
}

StoreFile::Outcome StoreFile::write(const QByteArrayList &pieces)
{
    const QString folder = QFileInfo(path_).absolutePath();
    QSaveFile file(path_);
    storefiles::tightenFolder(folder); // it may have been opened since the start
    if (!storefiles::ensureDirectory(folder))
        return {Status::Failed, QStringLiteral("cannot create the folder %1").arg(folder)};
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        ::fchmod(file.handle(), 0600) != 0)
        return {Status::Failed, file.errorString()};
    storefiles::Digest digest;
    if (!writeWhole(file, pieces, digest)) // Qt's message is often "Unknown error"
        return {Status::Failed,
                errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString()};
    return commit(file, digest.result());
}

// The new version goes into place only while the file is still the version read last.
// A hard-linked store is replaced all the same, so that a crash never leaves half a file: the
// user is told once that its other names no longer follow.
StoreFile::Outcome StoreFile::commit(QSaveFile &file, size_t digest)
{
    const storefiles::Identity written = storefiles::identify(file.handle());
    if (storefiles::identify(path_) != known_)
        return {Status::Overtaken, QStringLiteral("other programs kept changing it while ZapRun "
                                                  "wrote it")};
    const qint64 links = storefiles::linkCount(path_);
    if (!file.commit())
        return {Status::Failed, file.errorString()};
    known_ = written; // not the path's: another program may have replaced it since
    knownDigest_ = digest;
    if (links > 1 && !std::exchange(linkReplacedTold_, true))
        complain(QStringLiteral("%1 was hard-linked (it had %2 names); ZapRun saves by replacing "
                                "the file whole, so its other names keep the version before and "
                                "no longer follow the library")
                     .arg(path_)
                     .arg(links));
    watch();
    return {};
}

// A failure is said on standard error every time; the note beside the store tells the next start.
void StoreFile::record(const Outcome &outcome)
{
    if (outcome.saved()) {
        if (std::exchange(failureNoted_, false))
            storefiles::clearFailure(path_);
        return;
    }
    complain(QStringLiteral("could not save to %1 (%2); the change lasts only until ZapRun quits")
                 .arg(path_, outcome.reason));
    storefiles::noteFailure(path_, outcome.reason);
    failureNoted_ = true;
}

// The file, its folder and the folder above are watched, each as the node now at its path: the
// folder's watch sees files renamed into place, the one above sees the folder removed, made
// again or replaced. In place of a missing folder, the nearest one above it is watched. What
// changed before a new watch was made is read once it settles.
void StoreFile::watch()
{
    if (!watcher_ || watchFailed_)
        return;
    const QStringList wanted = pathsToWatch();
    const QStringList watching = watcher_->files() + watcher_->directories();
    for (const QString &path : watching) {
        if (!wanted.contains(path)) {
            watcher_->removePath(path);
            watched_.remove(path);
        }
    }
    bool added = false;
    for (const QString &path : wanted) {
        const storefiles::Identity node = storefiles::identify(path);
        if (watching.contains(path) && sameNode(watched_.value(path), node))
            continue;
        if (watching.contains(path))
            watcher_->removePath(path);
        if (!watchPath(path))
            return;
        watched_.insert(path, node);
        added = true;
    }
    if (added)
        settle_.start();
}

QStringList StoreFile::pathsToWatch() const
{
    QStringList paths;
    if (storefiles::identify(path_).exists())
        paths.append(path_);
    QString folder = QFileInfo(path_).absolutePath();
    for (int level = 0; level < 2; ++level) {
        while (!QFileInfo(folder).isDir() && !QDir(folder).isRoot())
            folder = QFileInfo(folder).absolutePath();
        if (!paths.contains(folder))
            paths.append(folder);
        folder = QFileInfo(folder).absolutePath();
    }
    return paths;
}

// When no watch can be made (the user's inotify watches are used up), the file is read again
// before every use instead (mayHaveChanged()); no timer polls it.
bool StoreFile::watchPath(const QString &path)
{
    if (watcher_->addPath(path))
        return true;
    if (!storefiles::identify(path).exists()) { // gone meanwhile: looked at again once it settles
        settle_.start();
        return false;
    }
    watchFailed_ = true;
    complain(QStringLiteral("cannot watch %1 for changes made by other programs (the system's "
                            "file watches may be used up); ZapRun reads the file again before it "
                            "runs a script, opens its menu or shows its window")
                 .arg(path_));
    return false;
}
