#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Every file that the store put beside its own.
QStringList keptAside(const QString &path)
{
    const QFileInfo info(path);
    return QDir(info.absolutePath())
        .entryList({info.fileName() + QStringLiteral(".*")}, QDir::AllEntries | QDir::System);
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

} // namespace

class TestDefaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("config/zaprun/defaults.json")); }

private slots:
    void init() { QDir(dir_.path()).removeRecursively(), QDir().mkpath(dir_.path()); }

    void valuesSurviveAndMissingKeysReadAsDefaults()
    {
        {
            Defaults first(path());
            QVERIFY(!first.contains(all_scripts_name));
            QCOMPARE(first.integerForKey(sel_script), 0);
            QCOMPARE(first.boolForKey(show_main), false);
            QCOMPARE(first.stringArrayForKey(all_scripts), std::nullopt);
            first.setStringArray(all_scripts_name, {QStringLiteral("a"), QString()});
            first.setStringArray(all_scripts, {QStringLiteral("echo \"ü\"\n"), QString()});
            first.setInteger(sel_script, -7);
            first.setBool(show_main, true);
        }
        const QByteArray written = readAll(path());
        QCOMPARE(written, QJsonDocument::fromJson(written).toJson(QJsonDocument::Indented));
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(path()).absolutePath()), mode_t(0700));
        const Defaults second(path());
        QCOMPARE(library::returnAllNames(second), QStringList({QStringLiteral("a"), QString()}));
        QCOMPARE(library::returnAllScripts(second),
                 QStringList({QStringLiteral("echo \"ü\"\n"), QString()}));
        QCOMPARE(second.integerForKey(sel_script), -7);
        QCOMPARE(second.boolForKey(show_main), true);
        QVERIFY(keptAside(path()).isEmpty());
    }

    void emptyLibraryStillExists()
    {
        Defaults defaults(path());
        defaults.setStringArray(all_scripts_name, {});
        QVERIFY(library::userAlreadyExist(defaults, all_scripts_name));
        QVERIFY(library::returnAllNames(defaults).isEmpty());
    }

    void observersRunInsideEveryWriteAndMayWriteAgain()
    {
        Defaults defaults(path());
        QStringList seen;
        int depth = 0;
        connect(&defaults, &Defaults::didChange, this, [&] {
            seen << QStringLiteral("%1:%2").arg(depth).arg(defaults.boolForKey(show_main));
            if (defaults.boolForKey(show_main)) {
                ++depth;
                defaults.setBool(show_main, false);
                --depth;
            }
        });
        defaults.setBool(show_main, true);
        // The nested write ran the observer once more, before the outer write returned.
        QCOMPARE(seen, QStringList({QStringLiteral("0:1"), QStringLiteral("1:0")}));
        QCOMPARE(defaults.boolForKey(show_main), false);
        defaults.setInteger(sel_script, 2);
        QCOMPARE(seen.size(), 3);
    }

    void mistypedValuesReadAsMissingAndTheOriginalIsCopiedBeforeTheFirstWrite()
    {
        const QByteArray original = "{\"all scripts names\": \"solo\", \"all scripts\": [\"x\", 3, "
                                    "null], \"sel script index\": \"2\", \"show main\": \"yes\", "
                                    "\"other\": {\"kept\": true}}";
        writeAll(path(), original);
        Defaults defaults(path());
        QVERIFY(library::userAlreadyExist(defaults, all_scripts_name));
        QVERIFY(library::returnAllNames(defaults).isEmpty());
        // Positions are kept even for elements that are not strings.
        QCOMPARE(library::returnAllScripts(defaults),
                 QStringList({QStringLiteral("x"), QStringLiteral("3"), QString()}));
        QCOMPARE(defaults.integerForKey(sel_script), 2);
        QCOMPARE(defaults.boolForKey(show_main), true);
        QVERIFY(keptAside(path()).isEmpty()); // nothing is copied while nothing is written

        defaults.setInteger(sel_script, 0);
        defaults.setInteger(sel_script, 1);
        const QStringList aside = keptAside(path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(QFileInfo(path()).absolutePath() + QLatin1Char('/') + aside.first()),
                 original);
        const QJsonObject rewritten = QJsonDocument::fromJson(readAll(path())).object();
        QCOMPARE(rewritten.value(QStringLiteral("other")).toObject().value(QStringLiteral("kept")),
                 QJsonValue(true));
        // What ZapRun wrote itself is not copied again at the next start.
        Defaults(path()).setInteger(sel_script, 2);
        QCOMPARE(keptAside(path()), aside);
    }

    void aChangeCutShortBetweenItsTwoWritesIsUndone_data()
    {
        QTest::addColumn<QStringList>("namesWrittenBeforeTheCrash");
        QTest::newRow("deleting b") << QStringList({"a", "c"});
        QTest::newRow("adding d") << QStringList({"a", "b", "c", "d"});
    }

    void aChangeCutShortBetweenItsTwoWritesIsUndone()
    {
        QFETCH(QStringList, namesWrittenBeforeTheCrash);
        const QStringList names = {"a", "b", "c"};
        const QStringList bodies = {"A", "B", "C"};
        {
            Defaults dying(path());
            dying.setStringArray(all_scripts_name, names);
            dying.setStringArray(all_scripts, bodies);
            dying.setStringArray(all_scripts_name, namesWrittenBeforeTheCrash);
        }
        const QByteArray found = readAll(path());
        Defaults reloaded(path());
        QCOMPARE(library::returnAllNames(reloaded), names);
        QCOMPARE(library::returnAllScripts(reloaded), bodies);
        reloaded.setInteger(sel_script, 1);
        QCOMPARE(QJsonDocument::fromJson(readAll(path())).object().value(all_scripts_name),
                 QJsonArray::fromStringList(names));
        const QStringList aside = keptAside(path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(QFileInfo(path()).absolutePath() + QLatin1Char('/') + aside.first()),
                 found);
    }

    void unpairedArraysThatNoCrashExplainsStayAsTheyAre()
    {
        {
            Defaults earlier(path());
            earlier.setStringArray(all_scripts_name, {"a", "b"});
            earlier.setStringArray(all_scripts, {"A", "B"});
            earlier.setStringArray(all_scripts_name, {"a", "b", "c"});
        }
        // Edited by hand since: these bodies are not the ones that were last paired.
        writeAll(path(), "{\"all scripts names\": [\"a\"], \"all scripts\": [\"X\", \"Y\"]}");
        const Defaults reloaded(path());
        QCOMPARE(library::returnAllNames(reloaded), QStringList({"a"}));
        QCOMPARE(library::returnAllScripts(reloaded), QStringList({"X", "Y"}));
    }

    void aFailedWriteKeepsTheChangeForThisRunAndTellsObservers()
    {
        const QString blocked = dir_.filePath(QStringLiteral("file-not-folder"));
        writeAll(blocked, "x");
        Defaults defaults(blocked + QStringLiteral("/zaprun/defaults.json"));
        QSignalSpy changes(&defaults, &Defaults::didChange);
        defaults.setStringArray(all_scripts_name, {QStringLiteral("a")});
        QCOMPARE(changes.size(), 1);
        QCOMPARE(library::returnAllNames(defaults), QStringList({QStringLiteral("a")}));
        QCOMPARE(readAll(blocked), QByteArray("x"));
    }

    // Two sessions, or another program, on one file: each follows the other's changes and no
    // write replaces a version that its store has not read.
    void storesOnOneFileFollowEachOther()
    {
        Defaults first(path());
        first.setStringArray(all_scripts_name, {"a"});
        first.setStringArray(all_scripts, {"A"});
        Defaults second(path());
        QSignalSpy followed(&second, &Defaults::didChange);
        first.setStringArray(all_scripts_name, {"a", "b"});
        first.setStringArray(all_scripts, {"A", "B"});
        QTRY_VERIFY_WITH_TIMEOUT(!followed.isEmpty(), 1000);
        QCOMPARE(library::returnAllNames(second), QStringList({"a", "b"}));

        // Before any event loop ran: the first store reads the file again before it writes.
        second.setInteger(sel_script, 1);
        first.setBool(show_main, false);
        const Defaults both(path());
        QCOMPARE(both.integerForKey(sel_script), 1);
        QCOMPARE(library::returnAllScripts(both), QStringList({"A", "B"}));

        // The library changed outside while this store changes it from what it read before:
        // the other version is kept aside, private.
        const QByteArray outside = "{\"all scripts names\": [\"a\", \"b\", \"c\"], "
                                   "\"all scripts\": [\"A\", \"B\", \"C\"]}";
        writeAll(path(), outside);
        second.setStringArray(all_scripts_name, {"a", "b", "d"});
        const QStringList aside = keptAside(path());
        QCOMPARE(aside.size(), 1);
        const QString kept = QFileInfo(path()).absolutePath() + QLatin1Char('/') + aside.first();
        QVERIFY2(aside.first().startsWith(QStringLiteral("defaults.json.conflict-")),
                 qPrintable(aside.first()));
        QCOMPARE(readAll(kept), outside);
        QCOMPARE(modeOf(kept), mode_t(0600));
    }

    void aReaderNeverSeesAPartialFile()
    {
        Defaults defaults(path());
        defaults.setStringArray(all_scripts, {});
        std::atomic<bool> done = false;
        std::atomic<int> reads = 0;
        std::atomic<int> broken = 0;
        std::thread reader([&] {
            while (!done) {
                if (QJsonDocument::fromJson(readAll(path())).isNull())
                    ++broken;
                ++reads;
            }
        });
        QStringList bodies;
        for (int i = 0; i < 150; ++i) {
            bodies.append(QString(1000 + i * 37, QLatin1Char('a' + i % 26)));
            defaults.setStringArray(all_scripts, bodies);
        }
        done = true;
        reader.join();
        QVERIFY(reads > 0);
        QCOMPARE(broken.load(), 0);
    }

    void namesCompareAsCanonicalUnicode()
    {
        const QString composed = QStringLiteral("caf\u00e9");
        const QString decomposed = QStringLiteral("cafe\u0301");
        QVERIFY(library::sameName(composed, decomposed));
        QVERIFY(!library::sameName(QStringLiteral("Run"), QStringLiteral("run")));
        QVERIFY(!library::sameName(QStringLiteral("run"), QStringLiteral("run ")));
        QVERIFY(!library::sameName(QStringLiteral("\uFB01"),
                                   QStringLiteral("fi"))); // compatibility only
    }
};

QTEST_GUILESS_MAIN(TestDefaults)
#include "tst_defaults.moc"
