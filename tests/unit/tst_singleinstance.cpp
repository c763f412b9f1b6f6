#include "platform/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What work wrote to file descriptor 2.
template <typename Work> QByteArray stderrOf(Work work)
{
    std::fflush(stderr);
    QTemporaryFile file;
    if (!file.open())
        return QByteArrayLiteral("<no temporary file>");
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    work();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QFile reader(file.fileName());
    return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
}

// A socket file as a killed run leaves it: bound, nobody listening.
void leaveStaleSocket(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::close(fd);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("TMPDIR", QFile::encodeName(tmp_.path()));
        QDir(tmp_.path()).removeRecursively();
        QDir().mkpath(tmp_.path());
    }

    void spellingsOfOneDisplayShareAKey_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("sameAsColonSeven");
        QTest::newRow(":7") << ":7" << true;
        QTest::newRow(":7.0") << ":7.0" << true;
        QTest::newRow("unix:7.1") << "unix:7.1" << true;
        QTest::newRow("localhost:7") << "localhost:7" << true;
        QTest::newRow(":70") << ":70" << false;
        QTest::newRow("elsewhere:7") << "elsewhere:7" << false;
    }

    void spellingsOfOneDisplayShareAKey()
    {
        QFETCH(QString, display);
        QFETCH(bool, sameAsColonSeven);
        qputenv("DISPLAY", ":7");
        const QString key = SingleInstance::sessionKey();
        qputenv("DISPLAY", display.toUtf8());
        QCOMPARE(SingleInstance::sessionKey() == key, sameAsColonSeven);
    }

    // Wherever the runtime folder is unusable, a private folder serves, stderr says so, and a
    // second start still finds the first.
    void oneInstanceWhateverTheRuntimeFolder_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<bool>("fallsBack");
        const QString scratch = tmp_.path();
        QTest::newRow("usable") << scratch + "/run" << false;
        QTest::newRow("not set") << QString() << true;
        QTest::newRow("missing") << scratch + "/nowhere" << true;
        QTest::newRow("a file") << scratch + "/file" << true;
        QTest::newRow("unwritable") << QStringLiteral("/proc") << true;
        QTest::newRow("too long for a socket") << scratch + "/" + QString(100, 'r') << true;
    }

    void oneInstanceWhateverTheRuntimeFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, fallsBack);
        QDir().mkpath(tmp_.path() + "/run");
        QDir().mkpath(tmp_.path() + "/" + QString(100, 'r'));
        QFile(tmp_.path() + "/file").open(QIODevice::WriteOnly);
        if (runtime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

        qputenv("DISPLAY", ":7");
        auto first = std::make_unique<SingleInstance>();
        QSignalSpy reopens(first.get(), &SingleInstance::reopenRequested);
        const QByteArray said = stderrOf([&] { QVERIFY(first->claim()); });
        QCOMPARE(said.contains("instead"), fallsBack);
        const QString path = first->serverPath();
        QVERIFY(path.startsWith(fallsBack ? tmp_.path() + "/zaprun-" : runtime + "/"));

        qputenv("DISPLAY", ":7.0");
        SingleInstance second;
        stderrOf([&] { QVERIFY(!second.claim()); });
        QTRY_COMPARE_WITH_TIMEOUT(reopens.count(), 1, 2000);

        first.reset();
        QVERIFY(!QFile::exists(path));
        leaveStaleSocket(path);
        SingleInstance third;
        stderrOf([&] { QVERIFY(third.claim()); });
        QCOMPARE(third.serverPath(), path);
    }

private:
    QTemporaryDir tmp_;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
