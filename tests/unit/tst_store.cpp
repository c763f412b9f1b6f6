// The store's values, its file shared with other programs, and its comparison of names.
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QTest>

class TestStoreRoom : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    const QString path_ = dir_.filePath(QStringLiteral("config/zaprun/defaults.json"));

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
        Defaults first(path_);
        QStringList seen;
        connect(&first, &Defaults::didChange, this, [&] {
            const int shown = first.boolForKey(show_main);
            seen << QStringLiteral("%1/%2:%3")
                        .arg(library::returnAllNames(first).size())
                        .arg(library::returnAllScripts(first).size())
                        .arg(shown);
            if (shown)
                first.setBool(show_main, false);
        });
        first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
        names.removeAt(0), bodies.removeAt(0);
        names << "d", bodies << QString(100000, QLatin1Char('d'));
        first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
        first.setInteger(sel_script, -7);
        first.setBool(show_main, true);
        QCOMPARE(seen, list("4/4:0|4/4:0|4/4:0|4/4:0|4/4:0|4/4:1|4/4:0"));
        const QByteArray written = readAll(path_);
        QCOMPARE(written, QJsonDocument::fromJson(written).toJson(QJsonDocument::Indented));
        Defaults second(path_);
        QCOMPARE(library::returnAllNames(second), names);
        QCOMPARE(library::returnAllScripts(second), bodies);
        QCOMPARE(second.integerForKey(sel_script), -7);
        second.setStringArrays({{all_scripts_name, {}}, {all_scripts, {}}});
        QVERIFY(library::userAlreadyExist(Defaults(path_), all_scripts_name));
        QCOMPARE(readAll(path_), QJsonDocument::fromJson(readAll(path_)).toJson());
    }

    // Two sessions, or another program, on one file: no write replaces a version that its store
    // has not read.
    void storesOnOneFileFollowEachOther()
    {
        Defaults first(path_);
        first.setStringArrays({{all_scripts_name, {"a"}}, {all_scripts, {"A"}}});
        Defaults second(path_);
        // Before any event loop ran: the first store reads the file again before it writes.
        second.setInteger(sel_script, 1);
        first.setBool(show_main, false);
        QCOMPARE(Defaults(path_).integerForKey(sel_script), 1);
        // Changed outside while this store changes it from what it read before: the other
        // version is kept aside, private.
        const QByteArray outside = "{\"all scripts names\": [\"c\"], \"all scripts\": [\"C\"]}";
        QVERIFY(writeFile(path_, outside));
        second.setStringArray(all_scripts_name, {"a", "b", "d"});
        const QDir folder = QFileInfo(path_).dir();
        const QStringList aside = folder.entryList({QStringLiteral("*conflict-*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(folder.filePath(aside[0])), outside);
        QCOMPARE(modeOf(folder.filePath(aside[0])), 0600);
    }

    // Names are equal when canonically equivalent, at any size.
    void sameName()
    {
        const std::tuple<const char *, const char16_t *, const char16_t *, bool> rows[] = {
            {"case counts", u"Run", u"run", false},
            {"blanks count", u"run", u"run ", false},
            {"compatibility is not canonical", u"\uFB01", u"fi", false},
            {"two-step decomposition", u"\u1E69", u"s\u0323\u0307", true},
            {"marks of two classes in either order", u"e\u0323\u0301", u"e\u0301\u0323", true},
            {"marks of one class keep their order", u"e\u0301\u0300", u"e\u0300\u0301", false},
            {"Hangul syllable and its letters", u"\uD55C\uAE00",
             u"\u1112\u1161\u11AB\u1100\u1173\u11AF", true},
            {"Hangul without a final letter", u"\uAC00", u"\u1100\u1161", true},
            {"beyond the first plane", u"\U0001D15E", u"\U0001D157\U0001D165", true},
            {"a lone surrogate", u"\xD834", u"\xD834 ", false}};
        for (const auto &[why, a, b, same] : rows) {
            const QString x = QString::fromUtf16(a), y = QString::fromUtf16(b);
            QVERIFY2(library::sameName(x, y) == same && library::sameName(y, x) == same, why);
        }
        // Megabytes of text, accents composed in one copy and decomposed in the other, marks out
        // of order: a quadratic normalizer never returns before the watchdog ends the test.
        QString composed, decomposed;
        for (int i = 0; i < 200000; ++i) {
            composed += QStringLiteral("Grüße ἄλφα Привет 한국어 日本語 \u1EC5\u0323\u0301 ");
            decomposed += QStringLiteral("Gru\u0308ße α\u0313\u0301λφα Привет "
                                         "\u1112\u1161\u11AB\u1100\u116E\u11A8\u110B\u1165 日本語 "
                                         "e\u0302\u0303\u0301\u0323 ");
        }
        QVERIFY(library::sameName(composed, decomposed));
        decomposed[decomposed.size() - 2] = QChar(0x0300);
        QVERIFY(!library::sameName(composed, decomposed));
    }
};

QTEST_GUILESS_MAIN(TestStoreRoom)
#include "tst_store.moc"
