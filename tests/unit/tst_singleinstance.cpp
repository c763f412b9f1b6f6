#include "platform/singleinstance.h"
#include "testsupport.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A socket file as a killed run leaves it: bound, nobody listening.
static void leaveStaleSocket(const QString &path)
{
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::close(fd);
}

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

private slots:
    void init()
    {
        qputenv("TMPDIR", QFile::encodeName(tmp_.path()));
        QDir(tmp_.path()).removeRecursively();
        QDir().mkpath(tmp_.path() + "/run");
        QDir().mkpath(tmp_.path() + "/" + QString(100, 'r'));
        QFile(tmp_.path() + "/file").open(QIODevice::WriteOnly);
    }

    void spellingsOfOneDisplayShareAKey()
    {
        qputenv("DISPLAY", ":7");
        const QString key = SingleInstance::sessionKey();
        const std::pair<const char *, bool> spellings[] = {{":7.0", true},
                                                           {"unix:7.1", true},
                                                           {"localhost:7", true},
                                                           {":70", false},
                                                           {"elsewhere:7", false}};
        for (const auto &[display, same] : spellings) {
            qputenv("DISPLAY", display);
            QCOMPARE(SingleInstance::sessionKey() == key, same);
        }
    }

    // Wherever the runtime folder is unusable, a private folder serves, stderr says so, and a
    // second start (another spelling of the display) still finds the first.
    void oneInstanceWhateverTheRuntimeFolder_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<bool>("fallsBack");
        QTest::newRow("usable") << tmp_.path() + "/run" << false;
        QTest::newRow("not set") << QString() << true;
        QTest::newRow("missing") << tmp_.path() + "/nowhere" << true;
        QTest::newRow("a file") << tmp_.path() + "/file" << true;
        QTest::newRow("unwritable") << QStringLiteral("/proc") << true;
        QTest::newRow("too long for a socket") << tmp_.path() + "/" + QString(100, 'r') << true;
    }

    void oneInstanceWhateverTheRuntimeFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, fallsBack);
        if (runtime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("DISPLAY", ":7");
        auto first = std::make_unique<SingleInstance>();
        QSignalSpy reopens(first.get(), &SingleInstance::reopenRequested);
        QCOMPARE(outputOf(2, [&] { QVERIFY(first->claim()); }).contains("instead"), fallsBack);
        const QString path = first->serverPath();
        QVERIFY(path.startsWith(fallsBack ? tmp_.path() + "/zaprun-" : runtime + "/"));
        qputenv("DISPLAY", ":7.0");
        SingleInstance second;
        outputOf(2, [&] { QVERIFY(!second.claim()); });
        QTRY_COMPARE_WITH_TIMEOUT(reopens.count(), 1, 2000);
        first.reset();
        QVERIFY(!QFile::exists(path));
        leaveStaleSocket(path);
        SingleInstance third;
        outputOf(2, [&] { QVERIFY(third.claim()); });
        QCOMPARE(third.serverPath(), path);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
