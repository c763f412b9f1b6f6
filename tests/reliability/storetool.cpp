// storetool summary FILE: one line per library entry, "name<TAB>sha256 of its body" ("-" for a
//   missing name or body), after a first line with the two array lengths; status 2 when the
//   file does not parse.
// storetool reopen SOCKET: sends the single-instance re-open request; status 1 when it cannot
//   connect.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int summary(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return 2;
    const QJsonArray names = document.object().value(QStringLiteral("all scripts names")).toArray();
    const QJsonArray bodies = document.object().value(QStringLiteral("all scripts")).toArray();
    std::printf("%lld %lld\n", static_cast<long long>(names.size()),
                static_cast<long long>(bodies.size()));
    for (qsizetype i = 0; i < std::max(names.size(), bodies.size()); ++i) {
        const QByteArray name = i < names.size() ? names[i].toString().toUtf8() : "-";
        const QByteArray body = i < bodies.size()
                                    ? QCryptographicHash::hash(bodies[i].toString().toUtf8(),
                                                               QCryptographicHash::Sha256)
                                          .toHex()
                                    : "-";
        std::printf("%s\t%s\n", name.constData(), body.constData());
    }
    return 0;
}

int reopen(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return 1;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    // A listener that refuses the peer may close first: only the connection counts.
    if (connected)
        ::send(fd, "reopen\n", 7, MSG_NOSIGNAL);
    if (fd >= 0)
        ::close(fd);
    return connected ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("summary"))
        return summary(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("reopen"))
        return reopen(args[2]);
    std::fprintf(stderr, "usage: storetool summary FILE | reopen SOCKET\n");
    return 64;
}
