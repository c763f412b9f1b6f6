// Damaged and hand-edited stores, failed writes, hostile names and texts and the privacy of
// script files, checked through the real tray agent and editor on the offscreen platform.
#include "app/appdelegate.h"
#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "platform/alert.h"
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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

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
    void hostileNamesAndTextsPassThroughIntact();
    void scriptFilesArePrivateAndGoneWhateverTheOutcome();

private:
    void placeStore(Place place, const QByteArray &bytes);
    // The application as main() puts it together, on the store at path_.
    struct App {
        explicit App(const QString &path)
            : defaults(path)
            , delegate(defaults, alert)
            , editor(defaults)
        {
            delegate.applicationDidFinishLaunching();
        }
        ProcessSignals processSignals; // as in main(): a file-size limit fails a write
        Defaults defaults;
        DialogAlert alert;
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
        app.editor.nameFld()->setText(name);
        app.editor.setClipbStr(text);
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
        QCOMPARE(app->editor.tableViewDat(), menu);
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
    others.removeOne(QStringLiteral(".defaults.json.previous")); // the last paired library
    others.removeOne(QStringLiteral(".defaults.json.failed"));   // the reason of a failed write
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
    const QString path =
        throughAFile ? blocker + QStringLiteral("/config/zaprun/defaults.json") : path_;
    const QByteArray reason = throughAFile ? "cannot create the folder" : "File too large";
    // Larger than the captured messages, which the file size limit below also limits.
    const QByteArray stored =
        object({member("all scripts names", "[\"a\", \"b\"]"),
                member("all scripts",
                       "[\"" + body("a") + "\", \"" + body("b") + QByteArray(8192, '.') + "\"]")});
    writeFile(throughAFile ? blocker : path_, throughAFile ? "a file, not a folder" : stored);
    auto app = std::make_unique<App>(path);

    // Only the soft limit: an unprivileged process could not raise the hard one again. The
    // names fit below it, the bodies do not: the add is left half-written.
    rlimit previousLimit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
    const rlimit small{rlim_t(stored.size() + 100), previousLimit.rlim_max};
    const auto failing = [&](const auto &work) {
        return outputOf([&] {
            if (!throughAFile)
                ::setrlimit(RLIMIT_FSIZE, &small);
            work();
            ::setrlimit(RLIMIT_FSIZE, &previousLimit);
        });
    };
    const QString text = QStringLiteral("echo new # ") + QString::fromUtf8(kSecret) +
                         QString(1000, QLatin1Char('#'));
    const QByteArray output = failing([&] {
        add(*app, QStringLiteral("new"), text);
        app->defaults.setInteger(sel_script, 1);
    });

    // The change shows for this run; every failed write has its line on stderr, and the user is
    // told once, in a dialog naming the file and the reason.
    const QStringList expected = throughAFile ? QStringList{"new"} : QStringList{"a", "b", "new"};
    QCOMPARE(scriptItems(app->delegate), expected);
    QCOMPARE(app->editor.tableViewDat(), expected);
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QCOMPARE(lines.size(), throughAFile ? 3 : 2);
    for (const QByteArray &line : lines) {
        QVERIFY2(line.startsWith("zaprun: could not save to " + QFile::encodeName(path)),
                 line.constData());
        QVERIFY2(line.contains(reason), line.constData());
    }
    QVERIFY(!output.contains(kSecret));
    QTRY_COMPARE(alerts_.size(), 1);
    QVERIFY2(alerts_[0].contains(path) && alerts_[0].contains(QString::fromUtf8(reason)),
             qPrintable(alerts_[0]));

    // The next start undoes the half-written add and says that a write failed, not a crash.
    app.reset();
    const QByteArray restart = outputOf([&] { app = std::make_unique<App>(path); });
    QCOMPARE(scriptItems(app->delegate), throughAFile ? QStringList() : QStringList({"a", "b"}));
    if (!throughAFile)
        QVERIFY2(restart.contains("could not be saved (" + reason + "); it was undone"),
                 restart.constData());
    QVERIFY2(!restart.contains("crash") && !restart.contains("interrupted"), restart.constData());

    // A write that succeeds ends the failure; the next one that fails is told again.
    if (throughAFile)
        QVERIFY(QFile::remove(blocker));
    add(*app, QStringLiteral("saved"), QStringLiteral("echo saved"));
    QVERIFY(library::returnAllNames(Defaults(path)).contains(QStringLiteral("saved")));
    QVERIFY(!QFileInfo::exists(QFileInfo(path).path() + QStringLiteral("/.defaults.json.failed")));
    QCOMPARE(alerts_.size(), 1);
    if (throughAFile) {
        QVERIFY(QDir(blocker).removeRecursively());
        writeFile(blocker, "a file again");
    }
    failing([&] { add(*app, QStringLiteral("lost"), text); });
    QTRY_COMPARE(alerts_.size(), 2);
}

void TestHostileStores::hostileNamesAndTextsPassThroughIntact()
{
    App app(path_);
    const QStringList names{
        QStringLiteral("tab\there\x01\x1b[31m bell\x07"),
        QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xe2\x80\xae"
                          "dlrow\xe2\x80\xac"),
        QStringLiteral("e\u0301\u0327\u0308 a\u20dd"),
        QStringLiteral("&Accel && amp"),
    };
    // NUL characters, replacement characters (what invalid UTF-8 becomes) and 20 MB of text.
    QString nul = QStringLiteral("printf 'nul\\n' >>\"$HOME/ran.log\" # ");
    nul += QChar(0);
    nul += QStringLiteral("after NUL");
    const QString huge = QStringLiteral("echo huge >>\"$HOME/ran.log\"; exit 0\n#") +
                         QString(20 * 1024 * 1024, QLatin1Char('y'));
    const QStringList texts{QStringLiteral("echo 0 >>\"$HOME/ran.log\""),
                            QStringLiteral("echo 1 >>\"$HOME/ran.log\" # \U0001F600\xfffd"), nul,
                            huge};
    const QByteArray output = outputOf([&] {
        for (qsizetype i = 0; i < names.size(); ++i)
            add(app, names[i], texts[i]);
        for (qsizetype i = 0; i < names.size(); ++i)
            choose(app, i);
    });
    QCOMPARE(scriptItems(app.delegate), names);
    QCOMPARE(app.editor.tableViewDat(), names);
    QCOMPARE(alerts_, QStringList());
    QCOMPARE(ranLog(), QStringLiteral("0\n1\nnul\nhuge\n"));
    // Shown as stored: control characters as their visible pictures, nothing else changed.
    QCOMPARE(app.delegate.menu()->actions()[kFixedItems]->text(),
             QStringLiteral("tab\u2409here\u2401\u241b[31m bell\u2407"));
    QCOMPARE(app.delegate.menu()->actions()[kFixedItems + 3]->text(),
             QStringLiteral("&&Accel &&&& amp"));
    // What a new process reads back is what was added.
    const Defaults reread(path_);
    QCOMPARE(reread.stringArrayForKey(all_scripts_name).value_or(QStringList()), names);
    QCOMPARE(reread.stringArrayForKey(all_scripts).value_or(QStringList()), texts);
    QVERIFY(output.isEmpty());
    // A canonically equal name is the same name: refused.
    add(app,
        QString::fromUtf8("\xc3\xa9\xcc\xa7\xcc\x88 a\xe2\x83\x9d")
            .normalized(QString::NormalizationForm_C),
        QStringLiteral("x"));
    QCOMPARE(app.editor.tableViewDat(), names);
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

QTEST_MAIN(TestHostileStores)
#include "tst_hostilestores.moc"
