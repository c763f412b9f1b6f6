// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLockFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kReopen = QByteArrayLiteral("reopen\n");
const QByteArray kReopened = QByteArrayLiteral("reopened\n");
constexpr qsizetype kLongestRequest = 64;
constexpr int kLockWaitMs = 5000;
constexpr timeval kConnectWait{2, 0};
constexpr int kAnswerWaitMs = 3000;
constexpr int kLongestRestMs = 1000;

bool peerIsThisUser(int fd)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::getuid();
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// False when the path does not fit in a socket address.
bool toAddress(const QString &path, sockaddr_un &address)
{
    const QByteArray name = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    return true;
}

const sockaddr *asGeneric(const sockaddr_un &address)
{
    return reinterpret_cast<const sockaddr *>(&address);
}

// Whether the running one said it re-opened. Its connection may sit unaccepted in the queue
// (it ran out of descriptors), and then no answer comes.
bool answeredReopened(int fd)
{
    QByteArray answer;
    pollfd readable{fd, POLLIN, 0};
    char buffer[16];
    ssize_t count = 0;
    while (answer.size() < kReopened.size() && ::poll(&readable, 1, kAnswerWaitMs) > 0 &&
           (count = ::read(fd, buffer, sizeof buffer)) > 0)
        answer.append(buffer, count);
    return answer == kReopened;
}

enum class Answer { Nobody, Reopened, NoAnswer };

// Whether a process of this user listens there, and whether it re-opened when asked.
Answer askRunningToReopen(const sockaddr_un &address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Answer::Nobody;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kConnectWait, sizeof kConnectWait);
    Answer answer = Answer::Nobody;
    if (::connect(fd, asGeneric(address), sizeof address) != 0)
        // A full queue keeps the caller waiting: somebody listens there but accepts nobody.
        answer = errno == EAGAIN || errno == EINPROGRESS ? Answer::NoAnswer : Answer::Nobody;
    else if (peerIsThisUser(fd))
        answer = ::send(fd, kReopen.constData(), std::size_t(kReopen.size()), MSG_NOSIGNAL) ==
                             kReopen.size() &&
                         answeredReopened(fd)
                     ? Answer::Reopened
                     : Answer::NoAnswer;
    ::close(fd);
    return answer;
}

bool isAsciiDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Anything but letters, digits, '.', '-' becomes '_'; a long name becomes its digest. (Plain
// loops rather than regular expressions: those cost half a megabyte at start-up.)
QString fileNamePart(QString text)
{
    for (QChar &c : text) {
        const bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                          (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
        if (!safe)
            c = u'_';
    }
    if (text.size() <= 32)
        return text;
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
}

// ":0", ":0.1", "unix:0" and "localhost:0" all name display 0 of this machine.
QString xDisplayKey(const QString &display)
{
    const qsizetype colon = display.lastIndexOf(u':');
    const QStringView place = QStringView(display).mid(colon + 1); // "number" or "number.screen"
    const qsizetype dot = place.indexOf(u'.');
    const QStringView number = dot < 0 ? place : place.left(dot);
    if (colon < 0 || !isAsciiDigits(number) || (dot >= 0 && !isAsciiDigits(place.mid(dot + 1))))
        return fileNamePart(display);
    const QString host = display.left(colon);
    const bool local =
        host.isEmpty() || host == QLatin1String("unix") || host == QLatin1String("localhost");
    return local ? QStringLiteral("x%1").arg(number)
                 : QStringLiteral("x%1-%2").arg(fileNamePart(host), number);
}

QString waylandKey()
{
    const QString socket = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    return fileNamePart(socket.startsWith(QLatin1Char('/')) ? socket : socket.section('/', -1));
}

// A folder of this user's that nobody else may enter, made when missing.
bool makePrivateFolder(const QString &folder, QString &reason)
{
    const QByteArray name = QFile::encodeName(folder);
    ::mkdir(name.constData(), 0700);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = QStringLiteral("it cannot be made");
        return false;
    }
    if (info.st_uid != ::getuid()) {
        reason = QStringLiteral("it belongs to another user");
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0) {
        reason = QStringLiteral("others may enter it");
        return false;
    }
    return true;
}

QStringList fallbackFolders()
{
    const QString own = QStringLiteral("/zaprun-%1").arg(::getuid());
    QStringList folders{QDir::tempPath() + own, QStringLiteral("/tmp") + own};
    folders.removeDuplicates();
    return folders;
}

void report(const QString &line)
{
    std::fprintf(stderr, "zaprun: %s\n", qPrintable(line));
}

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{}

SingleInstance::~SingleInstance()
{
    for (auto &[fd, peer] : peers_) {
        peer.notifier.reset();
        ::close(fd);
    }
    if (listener_ < 0)
        return;
    listenerNotifier_.reset();
    ::close(listener_);
    struct stat info {};
    const QByteArray name = QFile::encodeName(path_);
    // Only our own socket: another process may have put its own there meanwhile.
    if (::lstat(name.constData(), &info) == 0 && info.st_ino == socketInode_)
        ::unlink(name.constData());
}

QString SingleInstance::sessionKey()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        (display.isEmpty() && qEnvironmentVariableIsSet("WAYLAND_DISPLAY")))
        return waylandKey();
    return display.isEmpty() ? QStringLiteral("none") : xDisplayKey(display);
}

SingleInstance::Claim SingleInstance::claim()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString reason = QStringLiteral("XDG_RUNTIME_DIR is not set");
    if (!runtime.isEmpty()) {
        const Outcome outcome = claimIn(runtime, reason);
        if (outcome != Outcome::Unusable)
            return claimFrom(outcome);
    }
    for (const QString &folder : fallbackFolders()) {
        QString failure;
        if (!makePrivateFolder(folder, failure))
            continue;
        const Outcome outcome = claimIn(folder, failure);
        if (outcome == Outcome::Listening)
            report(QStringLiteral("the single-instance socket cannot be made in \"%1\" (%2); "
                                  "it is in \"%3\" instead")
                       .arg(runtime, reason, folder));
        if (outcome != Outcome::Unusable)
            return claimFrom(outcome);
    }
    report(QStringLiteral("no place for the single-instance socket could be used (%1); this "
                          "ZapRun runs alone and a later start will not find it")
               .arg(reason));
    return Claim::First;
}

SingleInstance::Claim SingleInstance::claimFrom(Outcome outcome)
{
    if (outcome == Outcome::AnotherDeaf)
        report(QStringLiteral("a ZapRun already runs in this session but did not answer the "
                              "request to show its window (it may have run out of file "
                              "descriptors); this start ends"));
    return outcome == Outcome::Listening     ? Claim::First
           : outcome == Outcome::AnotherRuns ? Claim::ReopenedRunning
                                             : Claim::RunningDeaf;
}

SingleInstance::Outcome SingleInstance::claimIn(const QString &folder, QString &reason)
{
    const QString path =
        folder +
        QStringLiteral("/zaprun-%1-%2.socket").arg(::getuid()).arg(fileNamePart(sessionKey()));
    sockaddr_un address{};
    if (!toAddress(path, address)) {
        reason = QStringLiteral("its path is too long for a socket");
        return Outcome::Unusable;
    }
    if (const Answer answer = askRunningToReopen(address); answer != Answer::Nobody)
        return answer == Answer::Reopened ? Outcome::AnotherRuns : Outcome::AnotherDeaf;
    // Two starts at once: the second waits until the first listens, then finds it.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs) && lock.error() != QLockFile::LockFailedError) {
        reason = QStringLiteral("it cannot be written");
        return Outcome::Unusable;
    }
    if (const Answer answer = askRunningToReopen(address); answer != Answer::Nobody)
        return answer == Answer::Reopened ? Outcome::AnotherRuns : Outcome::AnotherDeaf;
    return listenAt(path, reason) ? Outcome::Listening : Outcome::Unusable;
}

bool SingleInstance::listenAt(const QString &path, QString &reason)
{
    sockaddr_un address{};
    toAddress(path, address);
    struct stat info {};
    // Left behind by a run that ended without cleaning up: nobody answered on it.
    if (::lstat(address.sun_path, &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, asGeneric(address), sizeof address) != 0 ||
        ::chmod(address.sun_path, 0700) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::lstat(address.sun_path, &info) != 0) {
        reason = lastError();
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    listener_ = fd;
    socketInode_ = info.st_ino;
    path_ = path;
    listenerNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(listenerNotifier_.get(), &QSocketNotifier::activated, this,
            &SingleInstance::acceptConnections);
    acceptAgain_.setSingleShot(true);
    connect(&acceptAgain_, &QTimer::timeout, listenerNotifier_.get(),
            [this] { listenerNotifier_->setEnabled(true); });
    return true;
}

void SingleInstance::acceptConnections()
{
    int fd;
    while ((fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        restMs_ = kFirstRestMs;
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        Peer &peer = peers_[fd];
        peer.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(peer.notifier.get(), &QSocketNotifier::activated, this,
                [this, fd] { readPeer(fd); });
    }
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        restFromAccepting();
}

// Out of descriptors, the waiting connection stays queued and the notifier would fire again at
// once: listening rests instead, longer each time, until a descriptor is free.
void SingleInstance::restFromAccepting()
{
    listenerNotifier_->setEnabled(false);
    acceptAgain_.start(restMs_);
    restMs_ = std::min(restMs_ * 2, kLongestRestMs);
}

void SingleInstance::readPeer(int fd)
{
    char buffer[kLongestRequest];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    QByteArray &received = peers_[fd].received;
    if (count > 0)
        received.append(buffer, count);
    const bool asked = received.contains(kReopen);
    // A caller that gave up waiting is gone by now, and is not re-opened for.
    const bool reopen = asked && ::send(fd, kReopened.constData(), std::size_t(kReopened.size()),
                                        MSG_NOSIGNAL) == kReopened.size();
    if (asked || count <= 0 || received.size() > kLongestRequest)
        closePeer(fd);
    if (reopen)
        emit reopenRequested();
}

// Called from the peer's own notifier, which must outlive its signal.
void SingleInstance::closePeer(int fd)
{
    const auto peer = peers_.find(fd);
    peer->second.notifier->setEnabled(false);
    peer->second.notifier.release()->deleteLater();
    peers_.erase(peer);
    ::close(fd);
}
