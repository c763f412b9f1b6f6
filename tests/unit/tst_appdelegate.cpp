#include "app/appdelegate.h"
#include "tray/menuitem.h"
#include "platform/processsignals.h"
#include "testsupport.h"

#include <QPlainTextEdit>
#include <QStyle>
#include <QTimer>

#include <sys/resource.h>

static const QString marker = QStringLiteral(" > \"$HOME/marker\"");

// Each item as the user sees it, separators as "---"; submenus' names spelled out after the
// fixed items when reachable is set.
static QStringList titles(const QMenu &menu, bool reachable = false, qsizetype skip = 0)
{
    QStringList result;
    for (const QAction *item : menu.actions().mid(skip))
        result += reachable && item->menu() ? titles(*item->menu(), true)
                  : item->isSeparator()     ? QStringList{QStringLiteral("---")}
                                            : QStringList{menuItemTitle(item)};
    return result;
}

// The menu's size and every item fit the screen, or the menu scrolls.
static bool popsUpWithinTheScreen(QMenu &menu)
{
    menu.popup(QPoint(0, 0));
    const QRect room({}, menu.screen()->availableGeometry().size());
    bool fits = QTest::qWaitForWindowExposed(&menu) && room.contains(menu.rect());
    const bool scrolls = menu.style()->styleHint(QStyle::SH_Menu_Scrollable, nullptr, &menu);
    for (QAction *item : menu.actions()) {
        const QRect place = menu.actionGeometry(item);
        fits = fits && place.right() < menu.width() && (scrolls || place.bottom() < menu.height());
    }
    menu.hide();
    for (QAction *item : menu.actions())
        fits = fits && (!item->menu() || popsUpWithinTheScreen(*item->menu()));
    return fits;
}

class TestAppDelegate : public QObject {
    Q_OBJECT

    TestHome home_;
    RecordingAlert alert_;
    std::unique_ptr<TestStore> store_;
    std::unique_ptr<AppDelegate> delegate_;

    void choose(const QString &title)
    {
        for (QAction *item : delegate_->menu()->actions())
            if (menuItemTitle(item) == title)
                return item->trigger();
    }

    QByteArray ran() const { return readAll(home_.path(QStringLiteral("marker"))); }

private slots:
    void init()
    {
        QFile::remove(home_.path(QStringLiteral("marker")));
        alert_ = {};
        store_ = std::make_unique<TestStore>();
        delegate_ = std::make_unique<AppDelegate>(*store_->defaults, alert_);
        delegate_->applicationDidFinishLaunching();
    }

    void cleanup() { QFile(home_.path(QStringLiteral("free"))).open(QIODevice::WriteOnly); }

    void menuShowsTheNamesExactly()
    {
        const QStringList fixed = list("Preferences|Quit ZapRun|---");
        QCOMPARE(delegate_->menu()->actions()[1]->shortcut(), QKeySequence(QKeySequence::Quit));
        delegate_->showMainView(); // no library yet: the launch menu stays
        QCOMPARE(titles(*delegate_->menu()), fixed);
        // The first of the two writes of an addition already shows the new name.
        const QStringList odd = list(
            " lead and trail |Tom & Jerry|<b>b</b>|tab\there|\u05e9\u05dc\u05d5\u05dd e\u0301|");
        store_->defaults->setStringArray(all_scripts_name, odd);
        QCOMPARE(titles(*delegate_->menu()), fixed + odd);
        // What is drawn keeps the ampersand and puts no tab into the shortcut column.
        QCOMPARE(delegate_->menu()->actions()[4]->text(), QStringLiteral("Tom && Jerry"));
        QVERIFY(!delegate_->menu()->actions()[6]->text().contains(QLatin1Char('\t')));
        store_->defaults->setStringArray(all_scripts_name, {});
        QCOMPARE(titles(*delegate_->menu()), fixed);
    }

    // Submenus change only where the names changed, and each page fits the screen.
    void aHugeLibraryStaysOnTheScreen()
    {
        QStringList names;
        for (int i = 0; i < 10000; ++i)
            names << QStringLiteral("script number %1").arg(i);
        for (const QStringList &changed :
             {names, names.mid(0, 4321) + names.mid(4322) + QStringList{"last"},
              names.mid(0, 10) + names.mid(8000, 1200) + names.mid(10), names.mid(9000, 3)}) {
            store_->defaults->setStringArray(all_scripts_name, changed);
            QCOMPARE(titles(*delegate_->menu(), true, 3), changed);
            QVERIFY(changed.size() < 10000 || popsUpWithinTheScreen(*delegate_->menu()));
        }
    }

    void runnerOutcomes_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("alert"); // how the "Error!" alert's text starts; null: none
        QTest::addColumn<QByteArray>("ran");
        QTest::addColumn<int>("fileLimit"); // bytes a process may write to one file; 0: no limit
        const QString padding =
            QString(": a line that the shell reads and ignores\n").repeated(30000);
        const auto row = [](const char *tag, const QString &body, const QString &alert,
                            const QByteArray &ran = {}, int fileLimit = 0) {
            QTest::newRow(tag) << body << alert << ran << fileLimit;
        };
        row("quiet, in the home", "pwd" + marker + "; cat; echo out", {},
            QDir::homePath().toUtf8() + "\n");
        row("stderr, whole and as written", "echo '<b>x</b>' >&2; yes | head -n 5000 >&2; exit 3",
            "<b>x</b>\n" + QString("y\n").repeated(5000).chopped(1));
        row("private file", "stat -c %a \"$0\"" + marker, {}, "600\n");
        row("status", "exit 4", "The script ended with exit status 4.");
        row("signal", "kill -KILL $$", "The script was stopped by signal 9 (Killed).");
        row("no interpreter", "#!/nonexistent/sh\nexit 0", "The script could not be started: ");
        row("shebang argument", "#!/bin/sh -e\nfalse\necho ran" + marker,
            "The script ended with exit status 1.");
        row("syntax error", "echo ran" + marker + "\nif then fi (\n", "script: 2: Syntax error");
        row("huge body", padding + "echo done" + marker, {}, "done\n");
        row("body cut short", "echo ran" + marker + "\n" + padding,
            "The script could not be prepared: File too large", {}, 64 * 1024);
        row("own session", "[ $(cut -d' ' -f6 /proc/$$/stat) = $$ ] && echo own" + marker, {},
            "own\n");
        row("background child",
            "(until [ -e \"$HOME/free\" ]; do sleep 0.01; done) & echo early" + marker, {},
            "early\n");
    }

    // Only a failure shows the alert, with the whole message; no temporary file is left.
    void runnerOutcomes()
    {
        QFETCH(QString, body);
        QFETCH(QString, alert);
        QFETCH(int, fileLimit);
        store_->library("s", "");
        store_->defaults->setStringArray(all_scripts, {body});
        const ProcessSignals processSignals; // ignores SIGXFSZ, as the program does
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{fileLimit ? rlim_t(fileLimit) : previous.rlim_cur, previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        choose(QStringLiteral("s"));
        ::setrlimit(RLIMIT_FSIZE, &previous);
        QCOMPARE(alert_.texts, alert.isNull() ? QStringList() : QStringList{"Error!"});
        QVERIFY2(alert_.informativeTexts.value(0).startsWith(alert),
                 qPrintable(alert_.informativeTexts.value(0)));
        QTEST(ran(), "ran");
        QVERIFY(QDir(home_.path(QStringLiteral("tmp"))).entryList({"zaprun-*"}).isEmpty());
    }

    // The alert of the first is dismissed before the second of the same name runs. Each alert's
    // title names its script, on one line and cut short.
    void duplicateNamesRunInOrderAndAMissingBodyIsReported()
    {
        const QString orphan = "orphan\n" + QString(60, 'x');
        store_->library("twice|twice", "echo 1 >>$HOME/marker; exit 1|echo 2 >>$HOME/marker");
        store_->defaults->setStringArray(all_scripts_name, list("twice|twice") << orphan);
        QByteArray ranWhileShown;
        alert_.whileShown = [&] {
            ranWhileShown = ran();
        };
        choose(QStringLiteral("twice"));
        QCOMPARE(ranWhileShown + ran(), QByteArray("1\n1\n2\n"));
        choose(orphan);
        QCOMPARE(alert_.texts, list("Error!|Error!"));
        QCOMPARE(alert_.titles, QStringList({"ZapRun: “twice” failed",
                                             "ZapRun: “orphan " + QString(53, 'x') + "…” failed"}));
    }

    // The dialog's title is the one asked for; its message lines up in a fixed-width font.
    void dialogAlertTitleAndMessageFont()
    {
        QString title;
        bool fixedPitch = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *alert = QApplication::activeModalWidget();
            title = alert->windowTitle();
            fixedPitch = QFontInfo(alert->findChild<QPlainTextEdit *>()->font()).fixedPitch();
            alert->close();
        });
        DialogAlert().run(QStringLiteral("ZapRun: “s” failed"), QStringLiteral("Error!"),
                          QStringLiteral("col 1 | col 2"));
        QCOMPARE(title, QStringLiteral("ZapRun: “s” failed"));
        QVERIFY(fixedPitch);
    }

    // A choice from a host's copy of the menu and a host's click, made during a run, reach
    // nothing, then or later; meanwhile the tooltip names the script.
    void duringARunChoicesAreDroppedAndTheToolTipTellsWhatRuns()
    {
        store_->library("waits|other",
                        "until [ -e $HOME/go ]; do sleep 0.01; done|echo >$HOME/marker");
        QString toolTipMeanwhile;
        QTimer::singleShot(0, this, [&] { // in the run's own event loop
            toolTipMeanwhile = delegate_->statusItem().toolTip();
            choose(QStringLiteral("other"));
            emit delegate_->statusItem().activated(QSystemTrayIcon::Trigger);
            QFile(home_.path(QStringLiteral("go"))).open(QIODevice::WriteOnly);
        });
        choose(QStringLiteral("waits"));
        QCoreApplication::processEvents();
        QVERIFY(!delegate_->menu()->isVisible() && ran().isNull());
        QCOMPARE(toolTipMeanwhile, QStringLiteral("zR: running “waits”"));
        QCOMPARE(delegate_->statusItem().toolTip(), QStringLiteral("zR"));
        QFile::remove(home_.path(QStringLiteral("go")));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
