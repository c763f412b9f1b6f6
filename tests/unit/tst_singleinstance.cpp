// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/singleinstance.h"
#include "testsupport.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QProcess>

#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using Claim = SingleInstance::Claim;

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

// A second start, in a process of its own as a second zaprun is: this program again, which says
// it is ready, then claims once told to go (initTestCase).
struct SecondStart : QProcess {
    explicit SecondStart(const QString &stderrFile)
    {
        qputenv("SECOND_START", "1");
        setStandardErrorFile(stderrFile);
        start(QCoreApplication::applicationFilePath(), {"-o", "/dev/null,txt"});
        QVERIFY(waitForReadyRead());
    }
    void go() { QVERIFY(write("g") == 1 && waitForBytesWritten()); }
    // The claim's outcome once the process has ended; -1 while it runs.
    int claimed() const { return state() == NotRunning ? exitCode() : -1; }
};

// Every descriptor this process may open is in use; the limit goes back as it was.
struct NoDescriptorLeft {
    NoDescriptorLeft()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        const rlimit lowered{rlim_t(lowestFree), saved.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~NoDescriptorLeft() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
};

static int wakeUpsWithin(int ms)
{
    QSignalSpy awake(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return int(awake.size());
}

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

private slots:
    void initTestCase()
    {
        if (char go; qEnvironmentVariableIsSet("SECOND_START"))
            ::_exit(::write(1, "r", 1) == 1 && ::read(0, &go, 1) == 1
                        ? int(SingleInstance().claim())
                        : 99);
    }

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
    // second start (another spelling of the display) still finds the first. A first that has no
    // descriptor left cannot take the request: it rests rather than spins, and the second says
    // that it was not served; once descriptors are free again, requests are served.
    void oneInstanceWhateverTheRuntimeFolder_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<bool>("fallsBack");
        QTest::addColumn<bool>("outOfDescriptors");
        const QString usable = tmp_.path() + "/run";
        QTest::newRow("usable") << usable << false << false;
        QTest::newRow("not set") << QString() << true << false;
        QTest::newRow("missing") << tmp_.path() + "/nowhere" << true << false;
        QTest::newRow("a file") << tmp_.path() + "/file" << true << false;
        QTest::newRow("unwritable") << QStringLiteral("/proc") << true << false;
        QTest::newRow("too long for a socket")
            << tmp_.path() + "/" + QString(100, 'r') << true << false;
        QTest::newRow("usable, the first out of descriptors") << usable << false << true;
    }

    void oneInstanceWhateverTheRuntimeFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, fallsBack);
        QFETCH(bool, outOfDescriptors);
        runtime.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR")
                          : qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("DISPLAY", ":7");
        auto first = std::make_unique<SingleInstance>();
        QSignalSpy reopens(first.get(), &SingleInstance::reopenRequested);
        QCOMPARE(outputOf(2, [&] { QCOMPARE(first->claim(), Claim::First); }).contains("instead"),
                 fallsBack);
        const QString path = first->serverPath();
        QVERIFY(path.startsWith(fallsBack ? tmp_.path() + "/zaprun-" : runtime + "/"));
        qputenv("DISPLAY", ":7.0");
        const QString secondErr = tmp_.path() + "/second.err";
        SecondStart second(secondErr);
        if (outOfDescriptors) {
            wakeUpsWithin(0); // the sanitizer checks a type first met with a descriptor of its own
            const NoDescriptorLeft limit;
            second.go();
            QVERIFY2(wakeUpsWithin(1000) < 50, "the listener spins");
            QTRY_COMPARE_WITH_TIMEOUT(second.claimed(), int(Claim::RunningDeaf), 5000);
        } else {
            second.go();
            QTRY_COMPARE_WITH_TIMEOUT(second.claimed(), int(Claim::ReopenedRunning), 5000);
        }
        QCOMPARE(readAll(secondErr).contains("did not answer"), outOfDescriptors);
        SecondStart third(secondErr);
        third.go();
        QTRY_COMPARE_WITH_TIMEOUT(third.claimed(), int(Claim::ReopenedRunning), 10000);
        QCOMPARE(reopens.count(), outOfDescriptors ? 1 : 2);
        first.reset();
        QVERIFY(!QFile::exists(path));
        leaveStaleSocket(path);
        SingleInstance fourth;
        outputOf(2, [&] { QCOMPARE(fourth.claim(), Claim::First); });
        QCOMPARE(fourth.serverPath(), path);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
