// SPDX-License-Identifier: GPL-3.0-or-later
// The store: its values and their bytes, other programs on its file, damaged and foreign stores,
// failed writes, kills during the editor's writes, and its comparison of names.
#include "editor/viewcontroller.h"
#include "platform/interpreter.h"
#include "platform/processsignals.h"
#include "store/keys.h"
#include "store/library.h"
#include "store/storefile.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>

#include <pwd.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kSecret = QByteArrayLiteral("SECRET-7f3a");

QStringList entries(const QByteArray &text)
{
    return text.isEmpty() ? QStringList() : QString::fromUtf8(text).split(QLatin1Char('|'));
}

QStringList scripts(const QByteArray &tags)
{
    QStringList bodies = entries(tags);
    for (QString &body : bodies)
        body = QStringLiteral("echo ") + body + QStringLiteral(" # ") + kSecret;
    return bodies;
}

QByteArray store(const QByteArray &names, const QByteArray &tags, const QByteArray &more = {})
{
    return "{\"all scripts names\": " + names + ", \"all scripts\": [\"" +
           scripts(tags).join(QStringLiteral("\", \"")).toUtf8() + "\"]" + more + "}\n";
}
const QByteArray kAB = "[\"a\", \"b\"]";
const QByteArray kTwo = store(kAB, "a|b");
const QByteArray kIndex = ", \"sel script index\": ";

enum class Place { File, OpenFolder, Directory, HardLink, DanglingLink, LinkToFile };

struct Damage {
    QByteArray bytes;
    QByteArray names; // as read
    QByteArray tags;  // the scripts read
    QString aside;    // the kind of copy kept beside the store, if any
    qint64 index = 0; // the selected index as read
    Place place = Place::File;
    const char *told = nullptr; // what standard error says, once, besides the copies kept
};

// How other programs change the store's file while ZapRun runs.
enum class Edit { InPlace, ThenAWrite, FolderMadeAgain, FolderReplaced, Damaged, ThreeInASecond };

// Every body starts with its name, so the file alone shows whether the two pair up.
QString crashBody(const QString &name)
{
    return QStringLiteral("# %1 \"\\\t\u00e9\n").arg(name).repeated(qHash(name) % 8000);
}

// The names in the file if it parses and each has its own body, else "unpaired".
// A file not there yet holds no names: whether it is there is told by the same open that reads
// it, since the writer may put it in place between two looks.
QString pairedNames(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
    const QStringList names = stored.value(all_scripts_name).toVariant().toStringList();
    const QStringList bodies = stored.value(all_scripts).toVariant().toStringList();
    bool paired = !stored.isEmpty() && names.size() == bodies.size();
    for (qsizetype i = 0; paired && i < names.size(); ++i)
        paired = bodies[i] == crashBody(names[i]);
    return paired ? names.join(QLatin1Char('/')) : QStringLiteral("unpaired");
}

// Adds and deletes through the editor until killed, announcing each change's library first.
[[noreturn]] void crashWriter(const QString &run)
{
    Defaults defaults(Defaults::standardFilePath());
    ViewController editor(defaults);
    editor.loadViewIfNeeded();
    std::mt19937 rng(std::random_device{}());
    for (int op = 0;; ++op) {
        QStringList names = editor.tableViewDat();
        const bool adding = names.size() < 8 && (names.isEmpty() || rng() % 3 != 0);
        const QString name = adding ? QStringLiteral("%1-%2").arg(run).arg(op)
                                    : names[qsizetype(rng() % names.size())];
        adding ? names.append(name) : void(names.removeOne(name));
        std::printf("%s\n", qPrintable(names.join(QLatin1Char('/'))));
        std::fflush(stdout);
        editor.nameFld()->setText(name);
        editor.setClipbStr(crashBody(name));
        adding ? editor.add() : editor.del();
    }
}

// The library as ZapRun writes it: Qt's indented text, U+FEFF escaped.
QByteArray asWritten(const QStringList &names, const QStringList &bodies)
{
    return QJsonDocument(QJsonObject{{all_scripts_name, QJsonArray::fromStringList(names)},
                                     {all_scripts, QJsonArray::fromStringList(bodies)}})
        .toJson()
        .replace("\xEF\xBB\xBF", "\\ufeff");
}

QStringList qtReads(const QByteArray &bytes, const QString &key)
{
    return QJsonDocument::fromJson(bytes).object().value(key).toVariant().toStringList();
}

// The changes the editor makes of a library: deletes at each end and within, an add, a
// hand-edited store's bodies padded or cut to its names, a session of adds and deletes.
constexpr int kChanges = 7;
template <typename List> void change(List &list, int step)
{
    if (step <= 3) // the first, the last, the second
        return list.removeAt(step == 1 ? 0 : step == 2 ? list.size() - 1 : 1);
    if (step == 4)
        return list.append(QStringLiteral("new \"\u00e9\"\n"));
    if (step <= 6)
        return list.resize(list.size() + (step == 5 ? 1 : -2));
    for (int n = 0; n < 40; ++n) // a session's worth of adds, then every other one deleted
        list.append(QStringLiteral("added %1").arg(n));
    for (int n = 0; n < 20; ++n)
        list.removeAt(list.size() - 2 - n);
}

} // namespace

class TestHostileStores : public QObject {
    Q_OBJECT

    std::optional<TestHome> home_;
    QString folder_, path_;

    // The store's place as a user's editor or another program leaves it: readable by all.
    void placeStore(Place place, const QByteArray &bytes)
    {
        const QString elsewhere = home_->path(QStringLiteral("dotfiles/zaprun.json"));
        const QString target = place == Place::Directory      ? path_ + QStringLiteral("/inside")
                               : place >= Place::DanglingLink ? elsewhere
                                                              : path_;
        QVERIFY(place != Place::OpenFolder ||
                QFile::setPermissions(folder_, QFile::Permissions(0x7777)));
        QVERIFY(place < Place::DanglingLink || QFile::link(elsewhere, path_));
        QVERIFY(place == Place::DanglingLink ||
                (QDir().mkpath(QFileInfo(target).path()) && writeFile(target, bytes)));
        QVERIFY(place != Place::HardLink ||
                (QDir().mkpath(QFileInfo(elsewhere).path()) &&
                 ::link(QFile::encodeName(path_), QFile::encodeName(elsewhere)) == 0));
    }

private slots:
    // Started with CRASH_WRITER set, the program is the kill test's writer.
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("CRASH_WRITER"))
            crashWriter(qEnvironmentVariable("CRASH_WRITER"));
    }

    void init()
    {
        home_.emplace();
        folder_ = home_->path(QStringLiteral("config/zaprun"));
        path_ = folder_ + QStringLiteral("/defaults.json");
        QVERIFY(QDir().mkpath(folder_));
    }

    // Values survive in the very bytes Qt writes, element texts kept from earlier writes
    // included; observers hear of each key set, never see half a change, and may write again.
    // A store made under umask 000 is private all the same. Each change of an array is written
    // from the element texts that the write before it kept: an add and a delete in place, any
    // other change (a prepend moves every element one place on) as a copy.
    void valuesSurviveAndObserversSeeEachChangeWhole()
    {
        QStringList names{"a", "b", "", "tab\t\"q\" \\ \x01"};
        QStringList bodies{"echo \"ü\"\n", "B", QString(QChar(0)) + "\U0001F600", "\uFFFE\uFFFF"};
        for (char16_t c = 0; c < 0x900; ++c) // every escape and every length of UTF-8
            bodies.last() += QChar(c);
        QVERIFY(QDir(folder_).removeRecursively());
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
        const mode_t umask = ::umask(0);
        first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
        ::umask(umask);
        QCOMPARE(modeOf(folder_), 0700);
        QCOMPARE(modeOf(path_), 0600);
        names.removeAt(0), bodies.removeAt(0);
        names << "d", bodies << QString(100000, QLatin1Char('d'));
        first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
        first.setInteger(sel_script, -7);
        first.setBool(show_main, true);
        QCOMPARE(seen, list("4/4:0|4/4:0|4/4:0|4/4:0|4/4:0|4/4:1|4/4:0"));
        const std::function<void(QStringList &)> changes[] = {
            [](QStringList &l) { l.append("e\u00e9\n"); },
            [](QStringList &l) { l.removeLast(); },
            [](QStringList &l) { l.removeAt(1); },
            [](QStringList &l) { l.removeFirst(); },
            [](QStringList &l) { l.prepend("\"front\""); },
            [](QStringList &l) { l[1] = "changed"; },
            [](QStringList &l) { l.clear(); },
            [](QStringList &l) { l = list("x|y"); },
        };
        for (const auto &change : changes) {
            change(names), change(bodies);
            first.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
            const QByteArray written = readAll(path_);
            QCOMPARE(written, QJsonDocument::fromJson(written).toJson());
            const Defaults reader(path_);
            QCOMPARE(library::returnAllNames(reader), names);
            QCOMPARE(library::returnAllScripts(reader), bodies);
        }
        Defaults second(path_);
        QCOMPARE(second.integerForKey(sel_script), -7);
        second.setStringArrays({{all_scripts_name, {}}, {all_scripts, {}}});
        QVERIFY(library::userAlreadyExist(Defaults(path_), all_scripts_name));
        QCOMPARE(readAll(path_), QJsonDocument::fromJson(readAll(path_)).toJson());
    }

    void outsideChangesAreFollowedAndLoseNothing_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::newRow("in place, same size and times") << Edit::InPlace;
        QTest::newRow("in place, same size and times, then a write") << Edit::ThenAWrite;
        QTest::newRow("folder removed and made again") << Edit::FolderMadeAgain;
        QTest::newRow("folder replaced by another") << Edit::FolderReplaced;
        QTest::newRow("damaged version left") << Edit::Damaged;
        QTest::newRow("three versions within a second") << Edit::ThreeInASecond;
    }

    // Edits made as editors and sync tools make them: the store follows each, and what the file,
    // the store and a new reader show is the same library, after the next write too. A damaged
    // version is never written over, and a version this store writes over without having read
    // it is not lost: each is kept aside, private, under a name of its own (-1, -2).
    void outsideChangesAreFollowedAndLoseNothing()
    {
        QFETCH(const Edit, edit);
        // The names and scripts that follow: the edit's, but for versions written over.
        const QByteArray library = edit == Edit::Damaged          ? "a|b"
                                   : edit == Edit::ThreeInASecond ? "a"
                                                                  : "c|d";
        QVERIFY(writeFile(path_, kTwo));
        Defaults defaults(path_);
        const QByteArray edited = store("[\"c\", \"d\"]", "c|d"); // as long as kTwo
        const QString staged = folder_ + QStringLiteral(".new");
        QByteArrayList aside;
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(folder_).constData(), &info), 0);
        const quint64 folder = info.st_ino;
        switch (edit) {
        case Edit::InPlace:
        case Edit::ThenAWrite:
            QVERIFY(rewriteInPlace(path_, edited));
            if (edit == Edit::ThenAWrite) // before the watch's news is read
                defaults.setInteger(sel_script, 1);
            break;
        case Edit::FolderMadeAgain:
            // Made again after the store took in the removal, which it shows nowhere: a user
            // takes longer than this.
            QVERIFY(QDir(folder_).removeRecursively());
            QTest::qWait(1000);
            QVERIFY(QDir().mkdir(folder_) && writeFile(path_, edited));
            break;
        case Edit::FolderReplaced:
            QVERIFY(QDir().mkdir(staged) && writeFile(staged + "/defaults.json", edited));
            QVERIFY(QFile::rename(folder_, folder_ + ".old"));
            QTRY_VERIFY(!isWatched(folder));
            QVERIFY(QFile::rename(staged, folder_));
            break;
        case Edit::Damaged:
            aside.append("{\"all scripts names\": [\"" + kSecret);
            QVERIFY(writeFile(path_, aside.last()));
            outputOf(2, [&] { defaults.setInteger(sel_script, 1); });
            break;
        case Edit::ThreeInASecond:
            for (const char *name : {"c", "cc", "ccc"}) { // sizes differ: each is a change
                aside.append(store(QByteArray("[\"") + name + "\"]", name));
                QVERIFY(writeFile(path_, aside.last()));
                defaults.setStringArrays({{all_scripts_name, {"a"}}, {all_scripts, scripts("a")}});
            }
            break;
        }
        QTRY_COMPARE(library::returnAllNames(defaults), entries(library));
        QCOMPARE(library::returnAllScripts(defaults), scripts(library));
        defaults.setInteger(sel_script, 1);
        const Defaults reader(path_);
        QCOMPARE(library::returnAllNames(reader), entries(library));
        QCOMPARE(library::returnAllScripts(reader), scripts(library));
        QCOMPARE(reader.integerForKey(sel_script), 1);
        QByteArrayList kept;
        for (const QString &copy : QDir(folder_).entryList({QStringLiteral("*-*")})) {
            kept.append(readAll(folder_ + QLatin1Char('/') + copy));
            QCOMPARE(modeOf(folder_ + QLatin1Char('/') + copy), 0600);
        }
        QCOMPARE(kept, aside);
    }

    // Where the user's file watches are used up (here: a user namespace allowed none), ZapRun
    // says so once and reads the file again before each use, so what runs is what it holds.
    void theFileIsFollowedWhereNoWatchCanBeMade()
    {
        if (!qEnvironmentVariableIsSet("NO_WATCHES")) {
            if (QProcess::execute(QStringLiteral("unshare"), {"-U", "-r", "true"}) != 0)
                QSKIP("no user namespace can be made here");
            qputenv("NO_WATCHES", "1"); // for the child alone: no other test reads it
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("unshare"),
                        {"-U", "-r", "sh", "-c",
                         "echo 0 >/proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\"",
                         QCoreApplication::applicationFilePath(), QTest::currentTestFunction()});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        QVERIFY(writeFile(path_, kTwo));
        std::unique_ptr<Defaults> defaults;
        QByteArray output = outputOf(2, [&] { defaults = std::make_unique<Defaults>(path_); });
        QSignalSpy changed(defaults.get(), &Defaults::didChange);
        QVERIFY(rewriteInPlace(path_, store(kAB, "c|d"))); // new bodies, as long
        output += outputOf(2, [&] {
            defaults->synchronize();
            defaults->synchronize();
        });
        QCOMPARE(changed.size(), 1);
        QCOMPARE(library::returnAllScripts(*defaults), scripts("c|d"));
        QCOMPARE(output.count("zaprun: cannot watch " + QFile::encodeName(path_)), 1);
    }

    // As the XDG tools do: the store and the scripts' working folder are in the home folder of
    // the user's account entry, not in "/".
    void theAccountsHomeServesWithoutHOME()
    {
        const QString home = QFile::decodeName(::getpwuid(::getuid())->pw_dir);
        qunsetenv("XDG_CONFIG_HOME");
        for (const bool unset : {true, false}) { // HOME unset, HOME empty
            unset ? qunsetenv("HOME") : qputenv("HOME", "");
            QCOMPARE(Defaults::standardFilePath(), home + "/.config/zaprun/defaults.json");
            QCOMPARE(Interpreter::run(QStringLiteral("pwd")).result, home + QLatin1Char('\n'));
        }
    }

    // Names are equal when canonically equivalent, at any size.
    void sameName()
    {
        const std::tuple<const char *, const char16_t *, const char16_t *, bool> rows[] = {
            {"compatibility is not canonical", u"\uFB01", u"fi", false},
            {"two-step decomposition", u"\u1E69", u"s\u0323\u0307", true},
            {"marks of two classes in either order", u"e\u0323\u0301", u"e\u0301\u0323", true},
            {"marks of one class keep their order", u"e\u0301\u0300", u"e\u0300\u0301", false},
            {"Hangul", u"\uD55C\uAE00", u"\u1112\u1161\u11AB\u1100\u1173\u11AF", true},
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

    // A library read without decoding holds, body by body, what Qt's reader makes of the file,
    // and each change the editor makes of it writes what Qt reads back: from a file as ZapRun
    // writes it, the very bytes Qt writes.
    void aLibraryReadAsTextChangesAsQtReadsIt_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray written =
            asWritten(list("n0|n1|n2|n3|n4|n5|n6"),
                      {"plain", "tab\t \"quoted\" back\\slash \u00e9 \u0001 \ufeffmark",
                       "\u03c0 \u2192 \U0001F600", QString(QChar(0xD800)) + "lone", "",
                       QChar(0xFEFF) + QStringLiteral("starts with a mark"), "last"});
        const QByteArray oneLine = QJsonDocument::fromJson(written).toJson(QJsonDocument::Compact);
        QTest::newRow("as ZapRun writes it") << written;
        QTest::newRow("on one line") << oneLine;
        QTest::newRow("escapes Qt writes otherwise")
            << QByteArray(oneLine).replace("plain", "pl\\u0061in\\/").replace("last", "l\\ast");
        QTest::newRow("a raw tab, which only Qt's reader takes")
            << QByteArray(oneLine).replace("plain", "pl\tain");
    }

    void aLibraryReadAsTextChangesAsQtReadsIt()
    {
        QFETCH(const QByteArray, file);
        QVERIFY(writeFile(path_, file));
        QStringList names = qtReads(file, all_scripts_name), expected = qtReads(file, all_scripts);
        std::unique_ptr<Defaults> defaults;
        outputOf(2, [&] { defaults = std::make_unique<Defaults>(path_); });
        StringArray bodies = library::storedScripts(*defaults);
        for (int step = 1; step <= kChanges; ++step) {
            QCOMPARE(StringArray(bodies).toList(), expected);
            change(names, step);
            change(expected, step);
            change(bodies, step);
            defaults->setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
            const QByteArray stored = readAll(path_);
            QCOMPARE(qtReads(stored, all_scripts), expected);
            QVERIFY(!file.startsWith("{\n") || stored == asWritten(names, expected));
        }
        QCOMPARE(library::storedScripts(Defaults(path_)).toList(), expected);
    }

    void aDamagedStoreStartsAndLosesNothing_data()
    {
        QTest::addColumn<Damage>("damage");
        const auto row = [](const char *name, const Damage &damage) {
            QTest::newRow(name) << damage;
        };
        row("not JSON", {"scripts: " + kSecret, {}, "", "corrupt"});
        row("an escape cut short",
            {QByteArray(kTwo).replace("echo a", "echo \\u06"), {}, "", "corrupt"});
        row("top level an array", {"[\"" + scripts("a")[0].toUtf8() + "\"]", {}, "", "corrupt"});
        row("names a string", {store("\"a\"", "a"), {}, "a", "original"});
        row("names not strings", {store("[1, null, \"x\"]", "1|n|x"), "1||x", "1|n|x", "original"});
        row("index past the end",
            {store(kAB, "a|b", kIndex + "1e300"), "a|b", "a|b", "", INT64_MAX});
        row("index a string", {store(kAB, "a|b", kIndex + "\"0\""), "a|b", "a|b", "original"});
        row("more names", {store("[\"a\", \"b\", \"c\"]", "a|b"), "a|b|c", "a|b", "original"});
        row("more bodies", {store("[\"a\"]", "a|b"), "a", "a|b", "original"});
        row("bodies missing", {"{\"all scripts names\": " + kAB + "}", "a|b", "", "original"});
        row("names key misspelled, a key of another program",
            {QByteArray(kTwo).replace("all scripts names", "all script"), {}, "a|b", "original"});
        row("duplicate names", {store("[\"a\", \"a\"]", "1|2"), "a|a", "1|2", ""});
        row("the library's keys written twice, a hand merge",
            {"{\"all scripts names\": [\"lost\"], \"all scripts\": [\"" +
                 scripts("lost")[0].toUtf8() + "\"], " + kTwo.mid(1),
             "a|b", "a|b", "original"});
        row("a name that starts with a byte-order mark",
            {store("[\"a\", \"\\ufeffb\"]", "a|b"), "a|\uFEFFb", "a|b", ""});
        const QByteArray notUtf8 = QByteArray(kTwo).replace("\"b\"", "\"b\xff\xfe\"");
        row("bytes not UTF-8", {notUtf8, "a|b\ufffd\ufffd", "a|b", "original"});
        row("in a folder others may write", {kTwo, "a|b", "a|b", "", 0, Place::OpenFolder});
        row("directory in its place", {kSecret, {}, "", "unreadable", 0, Place::Directory});
        row("hard-linked into a dotfiles folder",
            {kTwo, "a|b", "a|b", "", 0, Place::HardLink, "was hard-linked (it had 2 names)"});
        row("dangling link in its place", {"", {}, "", "", 0, Place::DanglingLink});
        row("link to a store elsewhere", {kTwo, "a|b", "a|b", "", 0, Place::LinkToFile});
        const QByteArray big(50 << 20, 'x');
        row("50 MB", {store("[\"big\"]", big), "big", big, ""});
    }

    // Whatever ZapRun makes of a damaged or foreign file, no byte of the user's scripts is lost,
    // every copy it keeps is private, and the user is told where it is.
    void aDamagedStoreStartsAndLosesNothing()
    {
        QFETCH(const Damage, damage);
        const auto beside = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        const QStringList bodies = scripts(damage.tags);
        std::unique_ptr<Defaults> defaults;
        placeStore(damage.place, damage.bytes);
        QByteArray output = outputOf(
            2, [&] { defaults = std::make_unique<Defaults>(path_, Defaults::readAhead(path_)); });
        QCOMPARE(library::returnAllNames(*defaults), entries(damage.names));
        QCOMPARE(library::returnAllScripts(*defaults), bodies);
        QCOMPARE(defaults->integerForKey(sel_script), damage.index);

        // At the first write, all that could not be used was kept aside first, byte for byte.
        const QStringList names = entries(damage.names) + QStringList{QStringLiteral("added")};
        const QStringList texts = bodies + QStringList{QStringLiteral("echo # ") + kSecret};
        output += outputOf(2, [&] {
            defaults->setStringArrays({{all_scripts_name, names}, {all_scripts, texts}});
        });
        const QJsonObject stored = QJsonDocument::fromJson(readAll(path_)).object();
        if (damage.place == Place::DanglingLink) { // maybe the user's: it stays, nothing is saved
            QVERIFY(QFileInfo(path_).isSymLink());
            QVERIFY(output.contains("could not save to " + QFile::encodeName(path_)));
        } else {
            QCOMPARE(stored.value(all_scripts_name).toVariant().toStringList(), names);
            QCOMPARE(stored.value(all_scripts).toVariant().toStringList(), texts);
        }
        const QStringList all = QDir(folder_).entryList(beside),
                          copies = all.filter(QStringLiteral("-"));
        for (const QString &entry : all) {
            const QFileInfo info(folder_ + QLatin1Char('/') + entry);
            QVERIFY(info.isSymLink() || modeOf(info.filePath()) == (info.isDir() ? 0700 : 0600));
        }
        QCOMPARE(copies.size(), damage.aside.isEmpty() ? 0 : 1);
        for (const QString &copy : copies) {
            QVERIFY2(copy.startsWith("defaults.json." + damage.aside + "-"), qPrintable(copy));
            const QString kept = folder_ + QLatin1Char('/') + copy;
            QCOMPARE(readAll(kept + (damage.place == Place::Directory ? "/inside" : "")),
                     damage.bytes);
            QVERIFY(output.contains(kept.toUtf8()));
        }
        for (const QString &key : QJsonDocument::fromJson(damage.bytes).object().keys())
            QVERIFY2(stored.contains(key), qPrintable(key));
        if (damage.place == Place::OpenFolder) {
            QCOMPARE(modeOf(folder_), 0700);
            QVERIFY(output.contains("other users could write to " + QFile::encodeName(folder_)));
        }
        if (damage.place == Place::LinkToFile)
            QCOMPARE(readAll(QFile::symLinkTarget(path_)), readAll(path_));
        QVERIFY(!damage.told || output.count(damage.told) == 1);
        QVERIFY(!output.contains(kSecret));
        // What ZapRun wrote itself is not copied again at the next start.
        defaults.reset();
        outputOf(2, [&] { Defaults(path_).setInteger(sel_script, 0); });
        QCOMPARE(QDir(folder_).entryList(beside), all);
    }

    // An editor saving in place may be seen halfway: a version that cannot be read is told of
    // once, when it is seen again unchanged, and a save seen finished is followed without a word.
    void aSaveSeenHalfwayIsToldOnlyWhenItStays()
    {
        QVERIFY(writeFile(path_, kTwo));
        StoreFile file(path_);
        QVERIFY(file.load());
        const QByteArray edited = store("[\"c\", \"d\"]", "c|d");
        QVERIFY(writeFile(path_, edited.left(edited.size() / 2)));
        QByteArray told = outputOf(2, [&] { QVERIFY(!file.reloadIfChanged()); });
        QVERIFY(writeFile(path_, edited));
        told += outputOf(2, [&] { QVERIFY(file.reloadIfChanged()); });
        QCOMPARE(told, QByteArray());
        QVERIFY(writeFile(path_, edited.left(10)));
        told = outputOf(2, [&] {
            for (int look = 0; look < 3; ++look)
                QVERIFY(!file.reloadIfChanged());
        });
        QCOMPARE(told.count("cannot be read"), 1);
    }

    // A write cut short, within the file or in its last bytes, replaces nothing. Each failed
    // write has its line on stderr; the failure is signalled once, and said at the next start; a
    // good write ends it, and the next failure is signalled again.
    void aFailedWriteIsToldOnceAndTheNextStartSaysSo()
    {
        const ProcessSignals processSignals; // as in main(): the file size limit fails a write
        QVERIFY(writeFile(path_, kTwo + QByteArray(1000, ' '))); // longer than the messages
        auto defaults = std::make_unique<Defaults>(path_);
        rlimit previous{}; // only the soft limit: the hard one could not be raised again
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const QStringList big{kSecret + QString(2000, QLatin1Char('#'))};
        const auto failing = [&](rlim_t limit) { // root ignores modes, not this limit
            const rlimit small{limit, previous.rlim_max};
            QSignalSpy failed(defaults.get(), &Defaults::saveFailed);
            const QByteArray before = readAll(path_);
            const QByteArray output = outputOf(2, [&] {
                ::setrlimit(RLIMIT_FSIZE, &small);
                defaults->setStringArray(all_scripts, big), defaults->setInteger(sel_script, 1);
                ::setrlimit(RLIMIT_FSIZE, &previous);
            });
            QCOMPARE(library::returnAllScripts(*defaults), big); // the change lasts for this run
            QCOMPARE(readAll(path_), before);
            const QByteArray told =
                "zaprun: could not save to " + path_.toUtf8() + " (File too large";
            QCOMPARE(output.count(told), 2);
            QCOMPARE(output.count('\n'), 2);
            QVERIFY(!output.contains(kSecret));
            QCOMPARE(failed, (QList<QVariantList>{{path_, QStringLiteral("File too large")}}));
        };
        failing(rlim_t(kTwo.size() + 1100)); // within the new body
        defaults.reset();
        const auto restart = outputOf(2, [&] { defaults = std::make_unique<Defaults>(path_); });
        QCOMPARE(library::returnAllScripts(*defaults), scripts("a|b"));
        QVERIFY2(restart.contains("could not be saved (File too large)"), restart.constData());
        defaults->setInteger(sel_script, 1);
        QVERIFY(!QFileInfo::exists(folder_ + QStringLiteral("/.defaults.json.failed")));
        const QJsonObject next{{all_scripts, QJsonArray::fromStringList(big)},
                               {all_scripts_name, QJsonArray{"a", "b"}},
                               {sel_script, 1}};
        failing(rlim_t(QJsonDocument(next).toJson().size() - 2)); // within the closing "\n}\n"
    }

    // SIGKILL at random moments of adds and deletes: the file always parses and pairs every name
    // with its own body, also while being written, and holds the last change announced as done
    // or the one in progress.
    void aKillDuringAWriteLosesNothing()
    {
        std::mt19937 rng(20240611);
        for (int kill = 0; kill < 40; ++kill) {
            qputenv("CRASH_WRITER", QByteArray::number(kill));
            QProcess writer; // Qt Test's own output goes elsewhere: stdout is the writer's
            writer.start(QCoreApplication::applicationFilePath(), {"-o", "/dev/null,txt"});
            QStringList reports{pairedNames(path_)};
            for (qsizetype wanted = 2 + rng() % 3, waits = 0; reports.size() < wanted;) {
                QVERIFY(++waits < 4000 && pairedNames(path_) != "unpaired");
                writer.waitForReadyRead(5);
                while (writer.canReadLine())
                    reports.append(QString::fromUtf8(writer.readLine().chopped(1)));
            }
            writer.waitForFinished(int(rng() % 20)); // a random moment
            writer.kill();
            QVERIFY(writer.waitForFinished());
            while (writer.canReadLine())
                reports.append(QString::fromUtf8(writer.readLine().chopped(1)));
            QVERIFY2(reports.mid(reports.size() - 2).contains(pairedNames(path_)),
                     qPrintable(pairedNames(path_) + " after " + reports.join(QLatin1Char(' '))));
        }
    }
};

QTEST_MAIN(TestHostileStores)
#include "tst_hostilestores.moc"
