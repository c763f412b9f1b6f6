// Damaged and hand-edited stores, failed writes, hostile names and texts and the privacy of
// script files, checked through the real tray agent and editor on the offscreen platform.
#include "app/appdelegate.h"
#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "platform/interpreter.h"
#include "platform/menuitem.h"
#include "platform/processsignals.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
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
#include <QTimer>

#include <atomic>
#include <random>
#include <thread>

#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "Preferences", "Quit ZapRun" and a separator come before the scripts.
constexpr qsizetype kFixedItems = 3;
const QByteArray kSecret = QByteArrayLiteral("SECRET-7f3a");

// Runs work with file descriptors 1 and 2 sent to one temporary file; returns what reached it.
template <typename Work> QByteArray outputOf(Work work)
{
    std::fflush(stdout);
    std::fflush(stderr);
    QTemporaryFile file;
    if (!file.open())
        return QByteArrayLiteral("<no temporary file>");
    const int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDOUT_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    work();
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedOut);
    ::close(savedErr);
    QFile reader(file.fileName());
    return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
}

QByteArray body(const char *tag)
{
    return QByteArray("echo ") + tag + " >>\\\"$HOME/ran.log\\\" # " + kSecret;
}

// A store file from JSON member texts, e.g. member("all scripts names", "[\"a\"]").
QByteArray member(const char *key, const QByteArray &value)
{
    return QByteArray("\"") + key + "\": " + value;
}
QByteArray object(const QList<QByteArray> &members)
{
    return "{\n    " + members.join(",\n    ") + "\n}\n";
}
const QByteArray kTwo =
    object({member("all scripts names", "[\"a\", \"b\"]"),
            member("all scripts", "[\"" + body("a") + "\", \"" + body("b") + "\"]")});

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Readable by all, as an editor under the usual umask leaves a file.
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                QFile::ReadOther));
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

} // namespace

class TestHostileStores : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aDamagedStoreStartsAndLosesNothing_data();
    void aDamagedStoreStartsAndLosesNothing();
    void aFailedWriteIsToldOnceAndTheNextStartSaysSo_data();
    void aFailedWriteIsToldOnceAndTheNextStartSaysSo();
    void addAndDeleteWriteNamesAndBodiesTogether();
    void aKillDuringAWriteLosesNothing();
    void scriptFilesArePrivateAndGoneWhateverTheOutcome();

private:
    void placeStore(Place place, const QByteArray &bytes);
    // The application as main() puts it together, on the store at path_.
    struct App {
        explicit App(const QString &path)
            : defaults(path)
            , delegate(defaults)
            , editor(defaults)
        {
            delegate.applicationDidFinishLaunching();
        }
        ProcessSignals processSignals; // as in main(): a file-size limit fails a write
        Defaults defaults;
        AppDelegate delegate;
        ViewController editor;
    };
    void choose(App &app, qsizetype item)
    {
        app.delegate.menu()->actions()[kFixedItems + item]->trigger();
    }
    void add(App &app, const QString &name, const QString &text)
    {
        app.editor.loadViewIfNeeded();
        app.editor.nameFld->setText(name);
        app.editor.clipbStr = text;
        app.editor.add();
    }
    QString ranLog() const
    {
        QFile file(home_->filePath(QStringLiteral("ran.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    std::unique_ptr<QTemporaryDir> home_;
    QString folder_;
    QString path_;
    QStringList alerts_;
    QTimer alertCloser_;
};

void TestHostileStores::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("HOME", QFile::encodeName(home_->path()));
    folder_ = home_->filePath(QStringLiteral("config/zaprun"));
    path_ = folder_ + QStringLiteral("/defaults.json");
    QVERIFY(QDir().mkpath(folder_));
    alerts_.clear();
    // The "Error!" alert is modal: answer it as a user would, noting what it said.
    alertCloser_.setInterval(10);
    connect(&alertCloser_, &QTimer::timeout, this, [this] {
        if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            const auto *text = box->findChild<QPlainTextEdit *>(QStringLiteral("informativeText"));
            alerts_.append(text ? text->toPlainText() : QString());
            box->done(0);
        }
    });
    alertCloser_.start();
}

void TestHostileStores::cleanup()
{
    alertCloser_.disconnect();
    alertCloser_.stop();
    home_.reset();
}

void TestHostileStores::aDamagedStoreStartsAndLosesNothing_data()
{
    QTest::addColumn<bool>("running"); // the file appears while ZapRun runs, not before it starts
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("menu");
    QTest::addColumn<QString>("ran");     // ran.log after choosing every script item in turn
    QTest::addColumn<int>("alerts");      // of which answered by "Error!"
    QTest::addColumn<QString>("preview"); // what the preview shows for the stored index
    QTest::addColumn<qint64>("index");    // the stored index as read
    QTest::addColumn<QString>("aside");   // the kind of copy kept beside the store, if any

    const auto row = [](const char *name, Place place, const QByteArray &bytes,
                        const QStringList &menu, const char *ran, int alerts,
                        const QString &preview, qint64 index, const char *aside,
                        bool alsoWhileRunning = true) {
        for (const bool running : {false, true}) {
            if (running && !alsoWhileRunning)
                continue;
            QTest::addRow("%s, %s", name, running ? "while running" : "at start")
                << running << int(place) << bytes << menu << QString::fromUtf8(ran) << alerts
                << preview << index << QString::fromUtf8(aside);
        }
    };
    const QStringList none, ab{QStringLiteral("a"), QStringLiteral("b")};
    const auto shown = [](const char *tag) {
        return QString::fromUtf8(body(tag)).replace(QStringLiteral("\\\""), QStringLiteral("\""));
    };
    const auto bodies = [](const QList<const char *> &tags) {
        QByteArrayList quoted;
        for (const char *tag : tags)
            quoted.append("\"" + body(tag) + "\"");
        return "[" + quoted.join(", ") + "]";
    };
    const Place file = Place::File;
    row("not JSON", file, "scripts: " + kSecret, none, "", 0, "", 0, "corrupt");
    row("truncated", file, kTwo.left(kTwo.size() / 2), none, "", 0, "", 0, "corrupt");
    row("empty file", file, "", none, "", 0, "", 0, "corrupt");
    row("top level an array", file, "[\"" + body("a") + "\"]", none, "", 0, "", 0, "corrupt");
    row("names a string", file,
        object({member("all scripts names", "\"a\""), member("all scripts", bodies({"a"}))}), none,
        "", 0, shown("a"), 0, "original");
    row("bodies a number", file,
        object({member("all scripts names", "[\"a\"]"), member("all scripts", "42")}), {"a"}, "", 1,
        "", 0, "original");
    row("names not strings", file,
        object({member("all scripts names", "[1, true, null, \"x\"]"),
                member("all scripts", bodies({"1", "t", "n", "x"}))}),
        {"1", "true", "", "x"}, "1\nt\nn\nx\n", 0, shown("1"), 0, "original");
    row("index negative", file,
        QByteArray(kTwo).replace("\n}", ",\n    \"sel script index\": -3\n}"), ab, "a\nb\n", 0, "",
        -3, "");
    row("index far past the end", file,
        QByteArray(kTwo).replace("\n}", ",\n    \"sel script index\": 1e300\n}"), ab, "a\nb\n", 0,
        "", std::numeric_limits<qint64>::max(), "");
    row("index a string", file,
        QByteArray(kTwo).replace("\n}", ",\n    \"sel script index\": \"0\"\n}"), ab, "a\nb\n", 0,
        shown("a"), 0, "original");
    row("more names than bodies", file,
        object({member("all scripts names", "[\"a\", \"b\", \"c\"]"),
                member("all scripts", bodies({"a", "b"}))}),
        {"a", "b", "c"}, "a\nb\n", 1, shown("a"), 0, "original");
    row("more bodies than names", file,
        object({member("all scripts names", "[\"a\"]"), member("all scripts", bodies({"a", "b"}))}),
        {"a"}, "a\n", 0, shown("a"), 0, "original");
    row("bodies missing", file, object({member("all scripts names", "[\"a\", \"b\"]")}), ab, "", 2,
        "", 0, "original");
    // The names key misspelled: the bodies lose their names, but not their text.
    row("names key misspelled", file,
        object({member("all script names", "[\"a\", \"b\"]"),
                member("all scripts", bodies({"a", "b"}))}),
        none, "", 0, shown("a"), 0, "original");
    row("a key of another program", file,
        QByteArray(kTwo).replace("\n}", ",\n    \"theme\": {\"dark\": [1, 2]}\n}"), ab, "a\nb\n", 0,
        shown("a"), 0, "original");
    row("duplicate names", file,
        object({member("all scripts names", "[\"a\", \"a\"]"),
                member("all scripts", bodies({"1", "2"}))}),
        {"a", "a"}, "1\n2\n1\n2\n", 0, shown("1"), 0, "");
    row("empty name", file,
        object({member("all scripts names", "[\"\", \"b\"]"),
                member("all scripts", bodies({"e", "b"}))}),
        {"", "b"}, "e\nb\n", 0, shown("e"), 0, "");
    // One stray byte costs one character: the bad bytes read as U+FFFD.
    row("bytes not UTF-8", file, QByteArray(kTwo).replace("\"b\"", "\"b\xff\xfe\""),
        {"a", QStringLiteral("b\ufffd\ufffd")}, "a\nb\n", 0, shown("a"), 0, "original");
    row("in a folder others may write", Place::OpenFolder, kTwo, ab, "a\nb\n", 0, shown("a"), 0,
        "");
    row("directory in its place", Place::Directory, kSecret, none, "", 0, "", 0, "unreadable");
    row("dangling link in its place", Place::DanglingLink, "", none, "", 0, "", 0, "");
    row("link to a store elsewhere", Place::LinkToFile, kTwo, ab, "a\nb\n", 0, shown("a"), 0, "");
    // 50 MB in one body: read, run and written back whole.
    QByteArray big = "echo big >>\\\"$HOME/ran.log\\\"; exit 0\\n#";
    big += QByteArray(50 * 1024 * 1024, 'x');
    row("50 MB", file,
        object({member("all scripts names", "[\"big\"]"),
                member("all scripts", "[\"" + big + "\"]"), member("sel script index", "1")}),
        {"big"}, "big\n", 0, "", 1, "", false);
}

// Whatever ZapRun makes of a damaged or foreign file, no byte of the user's scripts is lost and
// every copy it keeps is private.
void TestHostileStores::aDamagedStoreStartsAndLosesNothing()
{
    QFETCH(bool, running);
    QFETCH(int, place);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, menu);
    QFETCH(QString, ran);
    QFETCH(int, alerts);
    QFETCH(QString, preview);
    QFETCH(qint64, index);
    QFETCH(QString, aside);

    std::unique_ptr<App> app;
    QByteArray output;
    const auto start = [&] {
        output += outputOf([&] { app = std::make_unique<App>(path_); });
    };
    if (!running) {
        placeStore(Place(place), bytes);
        start();
    } else {
        start();
        QSignalSpy changes(&app->defaults, &Defaults::didChange);
        placeStore(Place(place), bytes);
        // Followed within a second or two; what cannot be read changes nothing to wait for.
        if (aside != QLatin1String("corrupt") && aside != QLatin1String("unreadable") &&
            Place(place) != Place::DanglingLink)
            QTRY_VERIFY_WITH_TIMEOUT(changes.size() > 0, 2000);
    }
    QCOMPARE(scriptItems(app->delegate), menu);
    if (!running) // the editor's table keeps what it showed
        QCOMPARE(app->editor.tableViewDat, menu);
    output += outputOf([&] {
        for (qsizetype i = 0; i < menu.size(); ++i)
            choose(*app, i);
    });
    QCOMPARE(ranLog(), ran);
    QCOMPARE(alerts_.size(), alerts);
    QCOMPARE(app->defaults.integerForKey(sel_script), index);
    const PreviewPopover popover(app->defaults);
    QCOMPARE(popover.txtView->toPlainText(), preview);

    // The first write: the new script shows at once and is stored with its own body; everything
    // that could not be used was kept aside first, byte for byte.
    const QString text = QStringLiteral("echo added # ") + QString::fromUtf8(kSecret);
    output += outputOf([&] { add(*app, QStringLiteral("added"), text); });
    QCOMPARE(scriptItems(app->delegate), menu + QStringList{QStringLiteral("added")});
    const QJsonObject stored = QJsonDocument::fromJson(readAll(path_)).object();
    const QJsonArray names = stored.value(all_scripts_name).toArray();
    const QJsonArray bodies = stored.value(all_scripts).toArray();
    if (Place(place) == Place::DanglingLink) {
        // The link may be the user's (a folder of dotfiles not there yet): it stays, and the
        // user is told once that nothing could be saved.
        QCOMPARE(QFile::symLinkTarget(path_),
                 home_->filePath(QStringLiteral("gone/defaults.json")));
        QVERIFY2(output.contains("zaprun: could not save to " + QFile::encodeName(path_)),
                 output.constData());
        QTRY_COMPARE(alerts_.size(), alerts + 1);
        QVERIFY2(alerts_.last().contains(path_), qPrintable(alerts_.last()));
    } else {
        QCOMPARE(names.size(), bodies.size());
        QCOMPARE(names.last().toString(), QStringLiteral("added"));
        QCOMPARE(bodies.last().toString(), text);
        QCOMPARE(modeOf(path_), 0600);
    }

    QStringList others = QDir(folder_).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                                 QDir::NoDotAndDotDot);
    for (const QString &kept : others) {
        if (QFileInfo(folder_ + QLatin1Char('/') + kept).isSymLink())
            continue; // the user's own link
        QCOMPARE(modeOf(folder_ + QLatin1Char('/') + kept),
                 QFileInfo(folder_ + QLatin1Char('/') + kept).isDir() ? 0700 : 0600);
    }
    others.removeOne(QStringLiteral("defaults.json"));
    others.removeOne(QStringLiteral(".defaults.json.failed")); // the reason of a failed write
    if (aside.isEmpty()) {
        QCOMPARE(others, QStringList());
    } else {
        QCOMPARE(others.size(), 1);
        QVERIFY2(others[0].startsWith(QStringLiteral("defaults.json.%1-").arg(aside)),
                 qPrintable(others[0]));
        const QString kept = folder_ + QLatin1Char('/') + others[0];
        QCOMPARE(
            readAll(Place(place) == Place::Directory ? kept + QStringLiteral("/inside") : kept),
            bytes);
        QVERIFY2(output.contains(kept.toUtf8()), output.constData());
    }
    // What a kept copy does not hold, the store still does: every script, every other key.
    if (aside.isEmpty()) {
        const QJsonObject original = QJsonDocument::fromJson(bytes).object();
        for (const QString &key : original.keys())
            QVERIFY2(stored.contains(key), qPrintable(key));
        for (const QJsonValue &text : original.value(all_scripts).toArray())
            QVERIFY(bodies.contains(text));
    }
    if (Place(place) == Place::OpenFolder) {
        QCOMPARE(modeOf(folder_), 0700);
        QVERIFY2(
            output.contains("zaprun: other users could write to " + QFile::encodeName(folder_)),
            output.constData());
    }
    if (Place(place) == Place::LinkToFile) {
        const QString elsewhere = home_->filePath(QStringLiteral("dotfiles/zaprun.json"));
        QVERIFY2(QFileInfo(path_).isSymLink(), "the link was replaced by a file");
        QCOMPARE(readAll(elsewhere), readAll(path_));
    }
    if (bytes.size() > 1024 * 1024)
        QCOMPARE(bodies.first().toString().size(), QJsonDocument::fromJson(bytes)
                                                       .object()
                                                       .value(all_scripts)
                                                       .toArray()
                                                       .first()
                                                       .toString()
                                                       .size());
    QVERIFY2(!output.contains(kSecret), output.constData());
}

// The store's place as a user's editor or another program leaves it: readable by all.
void TestHostileStores::placeStore(Place place, const QByteArray &bytes)
{
    const QString elsewhere = home_->filePath(QStringLiteral("dotfiles/zaprun.json"));
    switch (place) {
    case Place::OpenFolder:
        QVERIFY(::chmod(QFile::encodeName(folder_).constData(), 0777) == 0);
        writeFile(path_, bytes);
        break;
    case Place::File:
        writeFile(path_, bytes);
        break;
    case Place::Directory:
        QVERIFY(QDir().mkpath(path_));
        writeFile(path_ + QStringLiteral("/inside"), bytes);
        break;
    case Place::DanglingLink:
        QVERIFY(QFile::link(home_->filePath(QStringLiteral("gone/defaults.json")), path_));
        break;
    case Place::LinkToFile:
        QVERIFY(QDir().mkpath(QFileInfo(elsewhere).path()));
        writeFile(elsewhere, bytes);
        QVERIFY(QFile::link(elsewhere, path_));
        break;
    }
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
    auto app = std::make_unique<App>(path);
    // Only the soft limit: an unprivileged process could not raise the hard one again.
    rlimit previous{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const rlimit small{rlim_t(stored.size() + 100), previous.rlim_max};
    const auto failing = [&](const auto &work) {
        return outputOf([&] {
            if (!throughAFile)
                ::setrlimit(RLIMIT_FSIZE, &small);
            work();
            ::setrlimit(RLIMIT_FSIZE, &previous);
        });
    };
    const QString text = QStringLiteral("echo new # ") + QString::fromUtf8(kSecret);
    const QByteArray output = failing([&] {
        add(*app, QStringLiteral("new"), text + QString(2000, QLatin1Char('#')));
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
    QTRY_COMPARE(alerts_.size(), 1);
    QVERIFY2(alerts_[0].contains(path) && alerts_[0].contains(QString::fromUtf8(reason)),
             qPrintable(alerts_[0]));
    // The next start says that a write failed; a write that succeeds ends the failure, and the
    // next one that fails is told again.
    app.reset();
    const QByteArray restart = outputOf([&] { app = std::make_unique<App>(path); });
    QCOMPARE(scriptItems(app->delegate), throughAFile ? QStringList() : QStringList({"a", "b"}));
    QVERIFY2(throughAFile || restart.contains("could not be saved (" + reason + ")"),
             restart.constData());
    if (throughAFile)
        QVERIFY(QFile::remove(blocker));
    add(*app, QStringLiteral("saved"), QStringLiteral("echo saved"));
    QVERIFY(library::returnAllNames(Defaults(path)).contains(QStringLiteral("saved")));
    QVERIFY(!QFileInfo::exists(QFileInfo(path).path() + QStringLiteral("/.defaults.json.failed")));
    if (throughAFile)
        QVERIFY(QDir(blocker).removeRecursively() && QFile(blocker).open(QIODevice::WriteOnly));
    failing([&] { add(*app, QStringLiteral("lost"), text + QString(2000, QLatin1Char('#'))); });
    QTRY_COMPARE(alerts_.size(), 2);
}

// While adds and deletes go on, a reader of the file never finds names without their bodies,
// and each change is one write that observers hear once.
void TestHostileStores::addAndDeleteWriteNamesAndBodiesTogether()
{
    App app(path_);
    QSignalSpy changes(&app.defaults, &Defaults::didChange);
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0, unpaired = 0;
    std::thread reader([&] {
        for (; !done; ++reads) {
            const QJsonObject stored = QJsonDocument::fromJson(readAll(path_)).object();
            unpaired += stored.value(all_scripts_name).toArray().size() !=
                        stored.value(all_scripts).toArray().size();
        }
    });
    for (int i = 0; i < 60; ++i) {
        add(app, QString::number(i), QString(1000 + i * 997, QLatin1Char('x')));
        if (i % 3 == 2)
            app.editor.nameFld->setText(QString::number(i - 1)), app.editor.del();
    }
    done = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(unpaired.load(), 0);
    QCOMPARE(changes.size(), 80);
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
        const QStringList names = editor.tableViewDat;
        const bool adding = names.size() < 8 && (names.isEmpty() || rng() % 3 != 0);
        const QString name = adding ? QStringLiteral("%1-%2").arg(argv[2]).arg(op)
                                    : names[qsizetype(rng() % names.size())];
        editor.nameFld->setText(name);
        editor.clipbStr = crashBody(name);
        adding ? editor.add() : editor.del();
        std::printf("%s\n", qPrintable(editor.tableViewDat.join(QLatin1Char('/'))));
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
    const QByteArray output = outputOf([&] {
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
