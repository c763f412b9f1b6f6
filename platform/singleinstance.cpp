#include "platform/singleinstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kReopen = QByteArrayLiteral("reopen\n");

bool peerIsThisUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::getuid();
}

// A folder that only this user can enter, or an empty string when none can be had.
QString privateFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    const QString folder = QDir::tempPath() + QStringLiteral("/zaprun-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0)
        return {};
    return folder;
}

QString sessionKey()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    return display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.-]")),
                           QStringLiteral("_"));
}

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

QString SingleInstance::serverPath()
{
    const QString folder = privateFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/zaprun-%1-%2.socket").arg(::getuid()).arg(sessionKey());
}

bool SingleInstance::claim()
{
    const QString path = serverPath();
    if (path.isEmpty())
        return true; // no private place for a socket: run alone rather than not at all
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.lock();
    if (askRunningToReopen(path))
        return false;
    QLocalServer::removeServer(path); // left behind by a run that ended without cleaning up
    server_.listen(path);
    return true;
}

bool SingleInstance::askRunningToReopen(const QString &path)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(2000) || !peerIsThisUser(socket.socketDescriptor()))
        return false;
    socket.write(kReopen);
    socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains(kReopen))
                emit reopenRequested();
        });
    }
}
