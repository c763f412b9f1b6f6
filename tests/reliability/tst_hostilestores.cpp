// Damaged and foreign stores, failed writes, kills during writes and the privacy of script
// files, checked through the real tray agent and editor on the offscreen platform.
#include "app/appdelegate.h"
#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "platform/interpreter.h"
#include "platform/menuitem.h"
#include "platform/processsignals.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <atomic>
#include <limits>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qsizetype kFixedItems = 3; // "Preferences", "Quit ZapRun" and a separator
const QByteArray kSecret = QByteArrayLiteral("SECRET-7f3a");

QByteArray body(const char *tag)
{
    return QByteArray("echo ") + tag + " >>\\\"$HOME/ran.log\\\" # " + kSecret;
}

// A store file: {"all scripts names": names, "all scripts": bodies(tags), more...}.
QByteArray store(const QByteArray &names, const QList<const char *> &tags,
                 const QByteArray &more = {})
{
    QByteArrayList quoted;
    for (const char *tag : tags)
        quoted.append("\"" + body(tag) + "\"");
    return "{\n    \"all scripts names\": " + names + ",\n    \"all scripts\": [" +
           quoted.join(", ") + "]" + more + "\n}\n";
}
const QByteArray kTwo = store("[\"a\", \"b\"]", {"a", "b"});

// Readable by all, as an editor under the usual umask leaves a file.
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
}

QStringList scriptItems(const AppDelegate &delegate)
{
    QStringList titles;
    for (const QAction *item : delegate.menu()->actions().mid(kFixedItems))
        titles.append(menuItemTitle(item));
    return titles;
}

enum class Place { File, OpenFolder, Directory, DanglingLink, LinkToFile };

mode_t modeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

// The application as main() puts it together; the alert is the test's.
struct App {
    App(const QString &path, Alert &alert)
        : defaults(path)
        , delegate(defaults, alert)
        , editor(defaults)
    {
        delegate.applicationDidFinishLaunching();
        editor.loadViewIfNeeded();
    }
    void add(const QString &name, const QString &text)
    {
        editor.nameFld()->setText(name);
        editor.setClipbStr(text);
        editor.add();
    }
    ProcessSignals processSignals; // as in main(): a file-size limit fails a write
    Defaults defaults;
    AppDelegate delegate;
    ViewController editor;
};

} // namespace

class TestHostileStores : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { home_.reset(); }
    void aDamagedStoreStartsAndLosesNothing_data();
    void aDamagedStoreStartsAndLosesNothing();
    void aFailedWriteIsToldOnceAndTheNextStartSaysSo_data();
    void aFailedWriteIsToldOnceAndTheNextStartSaysSo();
    void addAndDeleteWriteNamesAndBodiesTogether();
    void aKillDuringAWriteLosesNothing();
    void scriptFilesArePrivateAndGoneWhateverTheOutcome();

private:
    void placeStore(Place place, const QByteArray &bytes);

    std::unique_ptr<QTemporaryDir> home_;
    QString folder_;
    QString path_;
    RecordingAlert alert_;
};

void TestHostileStores::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("HOME", QFile::encodeName(home_->path()));
    folder_ = home_->filePath(QStringLiteral("config/zaprun"));
    path_ = folder_ + QStringLiteral("/defaults.json");
    QVERIFY(QDir().mkpath(folder_));
    alert_.informativeTexts.clear();
}

void TestHostileStores::aDamagedStoreStartsAndLosesNothing_data()
{
    QTest::addColumn<bool>("running"); // the file appears while ZapRun runs, not before it starts
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("menu");
    QTest::addColumn<QString>("ran");   // ran.log after choosing every script item in turn
    QTest::addColumn<int>("alerts");    // of which answered by "Error!"
    QTest::addColumn<qint64>("index");  // the stored index as read
    QTest::addColumn<QString>("aside"); // the kind of copy kept beside the store, if any
    const auto row = [](const char *name, Place place, const QByteArray &bytes,
                        const QStringList &menu, const char *ran, int alerts, qint64 index,
                        const char *aside, bool alsoWhileRunning = true) {
        for (const bool running : {false, true}) {
            if (!running || alsoWhileRunning)
                QTest::addRow("%s, %s", name, running ? "while running" : "at start")
                    << running << int(place) << bytes << menu << QString::fromUtf8(ran) << alerts
                    << index << QString::fromUtf8(aside);
        }
    };
    const QStringList none, ab{"a", "b"};
    const Place file = Place::File;
    row("not JSON", file, "scripts: " + kSecret, none, "", 0, 0, "corrupt");
    row("truncated", file, kTwo.left(kTwo.size() / 2), none, "", 0, 0, "corrupt");
    row("empty file", file, "", none, "", 0, 0, "corrupt");
    row("top level an array", file, "[\"" + body("a") + "\"]", none, "", 0, 0, "corrupt");
    row("names a string", file, store("\"a\"", {"a"}), none, "", 0, 0, "original");
    row("bodies a number", file, "{\"all scripts names\": [\"a\"], \"all scripts\": 42}", {"a"}, "",
        1, 0, "original");
    row("names not strings", file, store("[1, true, null, \"x\"]", {"1", "t", "n", "x"}),
        {"1", "true", "", "x"}, "1\nt\nn\nx\n", 0, 0, "original");
    row("index negative", file, store("[\"a\", \"b\"]", {"a", "b"}, ", \"sel script index\": -3"),
        ab, "a\nb\n", 0, -3, "");
    row("index far past the end", file,
        store("[\"a\", \"b\"]", {"a", "b"}, ", \"sel script index\": 1e300"), ab, "a\nb\n", 0,
        std::numeric_limits<qint64>::max(), "");
    row("index a string", file,
        store("[\"a\", \"b\"]", {"a", "b"}, ", \"sel script index\": \"0\""), ab, "a\nb\n", 0, 0,
        "original");
    row("more names than bodies", file, store("[\"a\", \"b\", \"c\"]", {"a", "b"}), {"a", "b", "c"},
        "a\nb\n", 1, 0, "original");
    row("more bodies than names", file, store("[\"a\"]", {"a", "b"}), {"a"}, "a\n", 0, 0,
        "original");
    row("bodies missing", file, "{\"all scripts names\": [\"a\", \"b\"]}", ab, "", 2, 0,
        "original");
    // The names key misspelled: the bodies lose their names, but not their text.
    row("names key misspelled", file,
        QByteArray(kTwo).replace("all scripts names", "all script names"), none, "", 0, 0,
        "original");
    row("a key of another program", file,
        store("[\"a\", \"b\"]", {"a", "b"}, ", \"theme\": {\"dark\": [1, 2]}"), ab, "a\nb\n", 0, 0,
        "original");
    row("duplicate names", file, store("[\"a\", \"a\"]", {"1", "2"}), {"a", "a"}, "1\n2\n1\n2\n", 0,
        0, "");
    row("empty name", file, store("[\"\", \"b\"]", {"e", "b"}), {"", "b"}, "e\nb\n", 0, 0, "");
    // One stray byte costs one character: the bad bytes read as U+FFFD.
    row("bytes not UTF-8", file, QByteArray(kTwo).replace("\"b\"", "\"b\xff\xfe\""),
        {"a", QStringLiteral("b\ufffd\ufffd")}, "a\nb\n", 0, 0, "original");
    row("in a folder others may write", Place::OpenFolder, kTwo, ab, "a\nb\n", 0, 0, "");
    row("directory in its place", Place::Directory, kSecret, none, "", 0, 0, "unreadable");
    row("dangling link in its place", Place::DanglingLink, "", none, "", 0, 0, "");
    row("link to a store elsewhere", Place::LinkToFile, kTwo, ab, "a\nb\n", 0, 0, "");
    // 50 MB in one body: read, run and written back whole.
    QByteArray big = "echo big >>\\\"$HOME/ran.log\\\"; exit 0\\n#" + QByteArray(50 << 20, 'x');
    row("50 MB", file,
        "{\"all scripts names\": [\"big\"], \"all scripts\": [\"" + big +
            "\"], \"sel script index\": 1}",
        {"big"}, "big\n", 0, 1, "", false);
}

// Whatever ZapRun makes of a damaged or foreign file, no byte of the user's scripts is lost,
// every copy it keeps is private, and the user is told where it is.
void TestHostileStores::aDamagedStoreStartsAndLosesNothing()
{
    QFETCH(bool, running);
    QFETCH(int, place);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, menu);
    QFETCH(QString, ran);
    QFETCH(int, alerts);
    QFETCH(qint64, index);
    QFETCH(QString, aside);
    std::unique_ptr<App> app;
    QByteArray output;
    if (!running)
        placeStore(Place(place), bytes);
    output += outputOf(2, [&] { app = std::make_unique<App>(path_, alert_); });
    if (running) {
        QSignalSpy changes(&app->defaults, &Defaults::didChange);
        placeStore(Place(place), bytes);
        // Followed within a second or two; what cannot be read changes nothing to wait for.
        if (aside != QLatin1String("corrupt") && aside != QLatin1String("unreadable") &&
            Place(place) != Place::DanglingLink)
            QTRY_VERIFY_WITH_TIMEOUT(changes.size() > 0, 2000);
    }
    QCOMPARE(scriptItems(app->delegate), menu);
    if (!running) // the editor's table keeps what it showed
        QCOMPARE(app->editor.tableViewDat(), menu);
    output += outputOf(2, [&] {
        for (qsizetype i = 0; i < menu.size(); ++i)
            app->delegate.menu()->actions()[kFixedItems + i]->trigger();
    });
    QCOMPARE(QString::fromUtf8(readAll(home_->filePath(QStringLiteral("ran.log")))), ran);
    QCOMPARE(alert_.informativeTexts.size(), alerts);
    QCOMPARE(app->defaults.integerForKey(sel_script), index);
    const PreviewPopover popover(app->defaults); // whatever the index, nothing breaks
    QVERIFY(popover.txtView);

    // The first write: the new script shows at once with its own body; everything that could
    // not be used was kept aside first, byte for byte, and the user was told where.
    const QString text = QStringLiteral("echo added # ") + QString::fromUtf8(kSecret);
    output += outputOf(2, [&] { app->add(QStringLiteral("added"), text); });
    QCOMPARE(scriptItems(app->delegate), menu + QStringList{QStringLiteral("added")});
    const QJsonObject stored = QJsonDocument::fromJson(readAll(path_)).object();
    const QJsonArray bodies = stored.value(all_scripts).toArray();
    if (Place(place) == Place::DanglingLink) {
        // The link may be the user's (dotfiles not there yet): it stays, and nothing is saved.
        QVERIFY(QFileInfo(path_).isSymLink());
        QVERIFY2(output.contains("could not save to " + QFile::encodeName(path_)), output);
        QTRY_COMPARE(alert_.informativeTexts.size(), alerts + 1);
    } else {
        QCOMPARE(stored.value(all_scripts_name).toArray().size(), bodies.size());
        QCOMPARE(bodies.last().toString(), text);
        QCOMPARE(modeOf(path_), 0600);
    }
    const auto entries = [&] {
        return QDir(folder_).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                       QDir::NoDotAndDotDot);
    };
    QStringList others = entries();
    const QStringList all = others;
    for (const QString &kept : others) {
        const QFileInfo info(folder_ + QLatin1Char('/') + kept);
        QVERIFY(info.isSymLink() || modeOf(info.filePath()) == (info.isDir() ? 0700 : 0600));
    }
    others.removeOne(QStringLiteral("defaults.json"));
    others.removeOne(QStringLiteral(".defaults.json.failed")); // the reason of a failed write
    QCOMPARE(others.size(), aside.isEmpty() ? 0 : 1);
    if (!aside.isEmpty()) {
        QVERIFY2(others[0].startsWith("defaults.json." + aside + "-"), qPrintable(others[0]));
        const QString kept = folder_ + QLatin1Char('/') + others[0];
        const bool folder = Place(place) == Place::Directory;
        QCOMPARE(readAll(folder ? kept + QStringLiteral("/inside") : kept), bytes);
        QVERIFY2(output.contains(kept.toUtf8()), output.constData());
    } else { // what a kept copy does not hold, the store still does
        for (const QJsonValue &body : QJsonDocument::fromJson(bytes)[all_scripts].toArray())
            QVERIFY(bodies.contains(body));
    }
    for (const QString &key : QJsonDocument::fromJson(bytes).object().keys())
        QVERIFY2(stored.contains(key), qPrintable(key));
    if (Place(place) == Place::OpenFolder) {
        QCOMPARE(modeOf(folder_), 0700);
        QVERIFY2(output.contains("other users could write to " + QFile::encodeName(folder_)),
                 output.constData());
    }
    if (Place(place) == Place::LinkToFile)
        QCOMPARE(readAll(QFile::symLinkTarget(path_)), readAll(path_));
    QVERIFY2(!output.contains(kSecret), output.constData());
    // What ZapRun wrote itself is not copied again at the next start.
    app.reset();
    outputOf(2, [&] { Defaults(path_).setInteger(sel_script, 0); });
    QCOMPARE(entries(), all);
}

// The store's place as a user's editor or another program leaves it: readable by all.
void TestHostileStores::placeStore(Place place, const QByteArray &bytes)
{
    const QString elsewhere = home_->filePath(QStringLiteral("dotfiles/zaprun.json"));
    if (place == Place::OpenFolder)
        QVERIFY(::chmod(QFile::encodeName(folder_).constData(), 0777) == 0);
    if (place == Place::Directory)
        QVERIFY(QDir().mkpath(path_));
    if (place == Place::LinkToFile)
        QVERIFY(QDir().mkpath(QFileInfo(elsewhere).path()) && QFile::link(elsewhere, path_));
    if (place == Place::DanglingLink)
        QVERIFY(QFile::link(home_->filePath(QStringLiteral("gone/defaults.json")), path_));
    else
        writeFile(place == Place::Directory    ? path_ + QStringLiteral("/inside")
                  : place == Place::LinkToFile ? elsewhere
                                               : path_,
                  bytes);
}

void TestHostileStores::aFailedWriteIsToldOnceAndTheNextStartSaysSo_data()
{
    QTest::addColumn<bool>("throughAFile");
    // A config folder below a regular file: the folder can never be made.
    QTest::newRow("folder below a file") << true;
    // Root ignores permission bits, not the file size limit: the new file cannot be written out.
    QTest::newRow("file size limit") << false;
}

void TestHostileStores::aFailedWriteIsToldOnceAndTheNextStartSaysSo()
{
    QFETCH(bool, throughAFile);
    const QString blocker = home_->filePath(QStringLiteral("blocker"));
    const QString path = throughAFile ? blocker + QStringLiteral("/zaprun/defaults.json") : path_;
    const QByteArray reason = throughAFile ? "cannot create the folder" : "File too large";
    // Larger than the captured messages, which the file size limit below also limits.
    const QByteArray stored = kTwo + QByteArray(1000, ' ');
    writeFile(throughAFile ? blocker : path_, stored);
    auto app = std::make_unique<App>(path, alert_);
    // Only the soft limit: an unprivileged process could not raise the hard one again.
    rlimit previous{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const rlimit small{rlim_t(stored.size() + 100), previous.rlim_max};
    const auto failing = [&](const auto &work) {
        return outputOf(2, [&] {
            if (!throughAFile)
                ::setrlimit(RLIMIT_FSIZE, &small);
            work();
            ::setrlimit(RLIMIT_FSIZE, &previous);
        });
    };
    const QString text = QStringLiteral("echo new # ") + QString::fromUtf8(kSecret);
    const QByteArray output = failing([&] {
        app->add(QStringLiteral("new"), text + QString(2000, QLatin1Char('#')));
        app->defaults.setInteger(sel_script, 1);
    });
    // The change shows for this run; each failed write has its line on stderr, and the user is
    // told once, in a dialog naming the file and the reason.
    const QStringList expected = throughAFile ? QStringList{"new"} : QStringList{"a", "b", "new"};
    QCOMPARE(scriptItems(app->delegate), expected);
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    for (const QByteArray &line : lines)
        QVERIFY2(line.startsWith("zaprun: could not save to " + QFile::encodeName(path)) &&
                     line.contains(reason) && !line.contains(kSecret),
                 line.constData());
    QTRY_COMPARE(alert_.informativeTexts.size(), 1);
    QVERIFY2(alert_.informativeTexts[0].contains(path) &&
                 alert_.informativeTexts[0].contains(QString::fromUtf8(reason)),
             qPrintable(alert_.informativeTexts[0]));
    // The next start says that a write failed; a write that succeeds ends the failure, and the
    // next one that fails is told again.
    app.reset();
    const QByteArray restart = outputOf(2, [&] { app = std::make_unique<App>(path, alert_); });
    QCOMPARE(scriptItems(app->delegate), throughAFile ? QStringList() : QStringList({"a", "b"}));
    QVERIFY2(throughAFile || restart.contains("could not be saved (" + reason + ")"),
             restart.constData());
    if (throughAFile)
        QVERIFY(QFile::remove(blocker));
    app->add(QStringLiteral("saved"), QStringLiteral("echo saved"));
    QVERIFY(library::returnAllNames(Defaults(path)).contains(QStringLiteral("saved")));
    QVERIFY(!QFileInfo::exists(QFileInfo(path).path() + QStringLiteral("/.defaults.json.failed")));
    if (throughAFile)
        QVERIFY(QDir(blocker).removeRecursively() && QFile(blocker).open(QIODevice::WriteOnly));
    failing([&] { app->add(QStringLiteral("lost"), text + QString(2000, QLatin1Char('#'))); });
    QTRY_COMPARE(alert_.informativeTexts.size(), 2);
}

// While adds and deletes go on, a reader of the file never finds names without their bodies.
void TestHostileStores::addAndDeleteWriteNamesAndBodiesTogether()
{
    App app(path_, alert_);
    app.add(QStringLiteral("first"), QString());
    QSignalSpy changes(&app.defaults, &Defaults::didChange);
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0, unpaired = 0;
    std::thread reader([&] {
        for (; !done; ++reads) {
            const QJsonDocument stored = QJsonDocument::fromJson(readAll(path_));
            unpaired += stored.isNull() || stored[all_scripts_name].toArray().size() !=
                                               stored[all_scripts].toArray().size();
        }
    });
    for (int i = 0; i < 60; ++i) {
        app.add(QString::number(i), QString(1000 + i * 997, QLatin1Char('x')));
        if (i % 3 == 2)
            app.editor.nameFld()->setText(QString::number(i - 1)), app.editor.del();
    }
    done = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(unpaired.load(), 0);
    QCOMPARE(changes.size(), 160); // names, then bodies: both already written
}

namespace {

// Every body starts with its name, so the file alone shows whether the two pair up.
QString crashBody(const QString &name)
{
    const QString line = QStringLiteral("# %1 \"\\\t\u00e9\n").arg(name);
    return line.repeated(qHash(name) % 3 == 0 ? 0 : qsizetype(qHash(name) % 8000));
}

// Adds and deletes through the editor until killed, saying after each change what the store
// holds: crash-writer RUN.
int crashWriter(int argc, char **argv)
{
    QApplication app(argc, argv);
    Defaults defaults(Defaults::standardFilePath());
    ViewController editor(defaults);
    editor.loadViewIfNeeded();
    std::mt19937 rng(std::random_device{}());
    for (int op = 0;; ++op) {
        const QStringList names = editor.tableViewDat();
        const bool adding = names.size() < 8 && (names.isEmpty() || rng() % 3 != 0);
        const QString name = adding ? QStringLiteral("%1-%2").arg(argv[2]).arg(op)
                                    : names[qsizetype(rng() % names.size())];
        editor.nameFld()->setText(name);
        editor.setClipbStr(crashBody(name));
        adding ? editor.add() : editor.del();
        std::printf("%s\n", qPrintable(editor.tableViewDat().join(QLatin1Char('/'))));
        std::fflush(stdout);
    }
}

} // namespace

// SIGKILL at random moments of adds and deletes: the file always parses, pairs every name with
// its own body, and holds the last change reported or the one after it.
void TestHostileStores::aKillDuringAWriteLosesNothing()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       home_->filePath(QStringLiteral("config")));
    std::mt19937 rng(20240611);
    for (int kill = 0; kill < 40; ++kill) {
        QProcess writer;
        writer.setProcessEnvironment(environment);
        writer.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("crash-writer"), QString::number(kill)});
        QStringList reports;
        for (qsizetype wanted = 1 + rng() % 3; reports.size() < wanted;) {
            QVERIFY(writer.waitForReadyRead(20000));
            while (writer.canReadLine())
                reports.append(QString::fromUtf8(writer.readLine().chopped(1)));
        }
        QThread::usleep(rng() % 20000);
        writer.kill();
        QVERIFY(writer.waitForFinished());
        while (writer.canReadLine())
            reports.append(QString::fromUtf8(writer.readLine().chopped(1)));
        const QJsonObject stored = QJsonDocument::fromJson(readAll(path_)).object();
        const QStringList names = stored.value(all_scripts_name).toVariant().toStringList();
        const QStringList bodies = stored.value(all_scripts).toVariant().toStringList();
        QCOMPARE(bodies.size(), names.size());
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(bodies[i], crashBody(names[i]));
        const QStringList last = reports.last().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const bool added = names.mid(0, names.size() - 1) == last;
        bool deleted = false;
        for (qsizetype i = 0; i < last.size() && !deleted; ++i) {
            QStringList fewer = last;
            fewer.removeAt(i);
            deleted = fewer == names;
        }
        QVERIFY2(names == last || added || deleted, qPrintable(names.join(QLatin1Char('/'))));
    }
    // Nothing was ever left unpaired, so nothing was kept aside.
    for (const QString &entry : QDir(folder_).entryList(QDir::Files))
        QVERIFY2(!entry.contains(QLatin1Char('-')), qPrintable(entry));
}

void TestHostileStores::scriptFilesArePrivateAndGoneWhateverTheOutcome()
{
    // A temporary folder that everybody may enter, so only the file's own mode protects it.
    const QString tmp = home_->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tmp));
    QVERIFY(::chmod(QFile::encodeName(tmp).constData(), 01777) == 0);
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp));
    // The script records its own file's mode and whether another user can read it.
    const QString probe = QStringLiteral(
        "stat -c %a \"$0\" >>\"$HOME/modes\"; "
        "setpriv --reuid=65534 --regid=65534 --clear-groups cat \"$0\" >/dev/null 2>&1 "
        "&& echo readable >>\"$HOME/modes\"; ");
    const QStringList scripts{
        probe + QStringLiteral("exit 0"),
        probe + QStringLiteral("echo failed >&2; exit 3"),
        probe + QStringLiteral("kill -9 $$"),
        QStringLiteral("#!/bin/sh\n") + probe + QStringLiteral("true"),
        QStringLiteral("if then # ") + QString::fromUtf8(kSecret),
        QStringLiteral("#!/nonexistent/interpreter\n"),
    };
    QList<bool> failed;
    const QByteArray output = outputOf(2, [&] {
        for (const QString &script : scripts)
            failed.append(Interpreter::run(script).failed);
    });
    qputenv("TMPDIR", oldTmp);
    QCOMPARE(failed, (QList<bool>{false, true, true, false, true, true}));
    QCOMPARE(readAll(home_->filePath(QStringLiteral("modes"))), QByteArray("600\n600\n600\n600\n"));
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY2(output.isEmpty(), output.constData());
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "crash-writer") == 0)
        return crashWriter(argc, argv);
    QApplication app(argc, argv);
    TestHostileStores test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_hostilestores.moc"
