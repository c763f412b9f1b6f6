#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    QStringList besideTheStore() const
    {
        return QDir(QFileInfo(path()).path()).entryList(QDir::Files | QDir::Hidden);
    }

private slots:
    void init() { QDir(dir_.path()).removeRecursively(), QDir().mkpath(dir_.path()); }

    // Values survive in the very bytes Qt writes, element texts kept from earlier writes
    // included; observers hear of each key set, never see half a change, and may write again.
    void valuesSurviveAndObserversSeeEachChangeWhole()
    {
        QStringList names{"a", "b", "", "tab\t\"q\" \\ \x01"};
        QStringList bodies{"echo \"ü\"\n", "B", QString(QChar(0)) + "\U0001F600", "\uFFFE\uFFFF"};
        for (char16_t c = 0; c < 0x900; ++c) // every escape and every length of UTF-8
            bodies.last() += QChar(c);
        {
            Defaults first(path());
            QVERIFY(!first.contains(all_scripts_name));
            QCOMPARE(first.integerForKey(sel_script), 0);
            QCOMPARE(first.stringArrayForKey(all_scripts), std::nullopt);
            QStringList seen;
            connect(&first, &Defaults::didChange, this, [&] {
                seen << QStringLiteral("%1/%2:%3")
                            .arg(library::returnAllNames(first).size())
                            .arg(library::returnAllScripts(first).size())
                            .arg(first.boolForKey(show_main));
                if (first.boolForKey(show_main))
                    first.setBool(show_main, false);
            });
            first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
            names = library::returnAllNames(first);
            bodies = library::returnAllScripts(first);
            names.removeAt(0), bodies.removeAt(0);
            names << "d", bodies << QString(100000, QLatin1Char('d'));
            first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
            first.setInteger(sel_script, -7);
            first.setBool(show_main, true);
            QCOMPARE(seen,
                     QStringList({"4/4:0", "4/4:0", "4/4:0", "4/4:0", "4/4:0", "4/4:1", "4/4:0"}));
        }
        const QByteArray written = readAll(path());
        QCOMPARE(written, QJsonDocument::fromJson(written).toJson(QJsonDocument::Indented));
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(path()).absolutePath()), mode_t(0700));
        Defaults second(path());
        QCOMPARE(library::returnAllNames(second), names);
        QCOMPARE(library::returnAllScripts(second), bodies);
        QCOMPARE(second.integerForKey(sel_script), -7);
        QCOMPARE(besideTheStore(), QStringList{QStringLiteral("defaults.json")});
        second.setStringArrays({{all_scripts_name, {}}, {all_scripts, {}}});
        QVERIFY(library::userAlreadyExist(Defaults(path()), all_scripts_name));
        QCOMPARE(readAll(path()), QJsonDocument::fromJson(readAll(path())).toJson());
    }

    // Two sessions, or another program, on one file: each follows the other's changes and no
    // write replaces a version that its store has not read.
    void storesOnOneFileFollowEachOther()
    {
        Defaults first(path());
        first.setStringArrays({{all_scripts_name, {"a"}}, {all_scripts, {"A"}}});
        Defaults second(path());
        QSignalSpy followed(&second, &Defaults::didChange);
        first.setStringArrays({{all_scripts_name, {"a", "b"}}, {all_scripts, {"A", "B"}}});
        QTRY_VERIFY_WITH_TIMEOUT(!followed.isEmpty(), 1000);
        QCOMPARE(library::returnAllNames(second), QStringList({"a", "b"}));
        // Before any event loop ran: the first store reads the file again before it writes.
        second.setInteger(sel_script, 1);
        first.setBool(show_main, false);
        QCOMPARE(Defaults(path()).integerForKey(sel_script), 1);
        // The library changed outside while this store changes it from what it read before:
        // the other version is kept aside, private.
        const QByteArray outside = "{\"all scripts names\": [\"c\"], \"all scripts\": [\"C\"]}";
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(outside) == outside.size());
        file.close();
        second.setStringArray(all_scripts_name, {"a", "b", "d"});
        const QStringList aside = besideTheStore().filter(QStringLiteral("conflict-"));
        QCOMPARE(aside.size(), 1);
        const QString kept = QFileInfo(path()).path() + QLatin1Char('/') + aside.first();
        QCOMPARE(readAll(kept), outside);
        QCOMPARE(modeOf(kept), mode_t(0600));
    }
};

QTEST_GUILESS_MAIN(TestDefaults)
#include "tst_defaults.moc"
