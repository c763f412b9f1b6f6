// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appdelegate.h"
#include "platform/processsignals.h"
#include "testsupport.h"
#include "tray/menuitem.h"

#include <QPlainTextEdit>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include <csignal>
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

// The submenus' titles, or the titles their contents call for.
static QStringList pageTitles(const QMenu &menu, bool fromContents = false)
{
    QStringList result;
    qsizetype first = 1;
    for (const QAction *item : menu.actions()) {
        if (const QMenu *page = item->menu()) {
            const qsizetype last = first + page->actions().size() - 1;
            result += fromContents ? QStringLiteral("Scripts %1\u2013%2").arg(first).arg(last)
                                   : page->title();
            first = last + 1;
        }
    }
    return result;
}

static QStringList numbered(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("script %1").arg(i);
    return names;
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
        delegate_->showMainView(); // no library yet: the launch menu stays
        QCOMPARE(titles(*delegate_->menu()), fixed);
        // The first of the two writes of an addition already shows the new name.
        const QString tooLong = QStringLiteral("a name that goes on, ").repeated(10);
        const QStringList odd = list(" lead and trail |Tom & Jerry|<b>b</b>|tab\there|"
                                     "\u05e9\u05dc\u05d5\u05dd e\u0301|")
                                << tooLong;
        store_->defaults->setStringArray(all_scripts_name, odd);
        QCOMPARE(titles(*delegate_->menu()), fixed + odd);
        // What is drawn keeps the ampersand and puts no tab into the shortcut column.
        QCOMPARE(delegate_->menu()->actions()[4]->text(), QStringLiteral("Tom && Jerry"));
        QVERIFY(!delegate_->menu()->actions()[6]->text().contains(QLatin1Char('\t')));
        // Only a title too wide for the screen is cut short, here and in a host's copy alike.
        const QString shown = delegate_->menu()->actions().constLast()->text();
        QVERIFY2(shown.endsWith(QChar(0x2026)) && tooLong.startsWith(shown.chopped(1)),
                 qPrintable(shown));
        QCOMPARE(exportedMenuText(tooLong), shown);
        QVERIFY(popsUpWithinTheScreen(*delegate_->menu()));
        store_->defaults->setStringArray(all_scripts_name, {});
        QCOMPARE(titles(*delegate_->menu()), fixed);
    }

    void theMenuFollowsEveryChange_data()
    {
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("changed");
        const QStringList paged = numbered(1200);
        const QStringList three = list("new 1|new 2|new 3");
        QTest::newRow("inserted before an unchanged tail") << list("a|b|c") << list("a|x|y|b|c");
        QTest::newRow("one of two equal names side by side removed")
            << list("a|twice|twice|b") << list("a|twice|b");
        QTest::newRow("an equal name put beside its twin") << list("a|b|c") << list("a|b|b|c");
        QTest::newRow("pages: one removed") << paged << paged.mid(0, 700) + paged.mid(701);
        QTest::newRow("pages: inserted before an unchanged tail")
            << paged << paged.mid(0, 600) + three + paged.mid(600);
        QTest::newRow("pages: a page emptied") << paged << paged.mid(0, 500) + paged.mid(1000);
        QTest::newRow("pages: inserted in a page not yet shown")
            << paged << paged.mid(0, 100) + three + paged.mid(100);
        QTest::newRow("pages to a few") << paged << three;
        QTest::newRow("a few to a huge library") << three << numbered(10000);
    }

    // Only the changed items are replaced; each submenu is titled with the range it holds and,
    // however many scripts there are, fits the screen. The second page is shown before the
    // change, the others only after it.
    void theMenuFollowsEveryChange()
    {
        QFETCH(QStringList, shown);
        QFETCH(QStringList, changed);
        store_->defaults->setStringArray(all_scripts_name, shown);
        if (QAction *second = delegate_->menu()->actions().value(4); second && second->menu())
            second->menu()->popup({}), second->menu()->hide();
        store_->defaults->setStringArray(all_scripts_name, changed);
        QVERIFY(popsUpWithinTheScreen(*delegate_->menu()));
        QCOMPARE(titles(*delegate_->menu(), true, 3), changed);
        QCOMPARE(pageTitles(*delegate_->menu()), pageTitles(*delegate_->menu(), true));
        QCOMPARE(pageTitles(*delegate_->menu()).isEmpty(), changed.size() <= 500);
    }

    // Pages first shown after an add and a delete hold their ranges of the names as they are
    // then; a choice there runs exactly its entry, here the second of two equal names.
    void aPageIsFilledOnItsFirstShow()
    {
        QStringList names = numbered(1200);
        QStringList bodies;
        for (const QString &name : std::as_const(names))
            bodies << "echo '" + name + "'" + marker;
        store_->library(names, bodies);
        names.insert(100, QStringLiteral("script 1100")), bodies.insert(100, "echo copy" + marker);
        store_->library(names, bodies);
        names.remove(300), bodies.remove(300);
        store_->library(names, bodies);
        QCOMPARE(pageTitles(*delegate_->menu()),
                 list("Scripts 1–500|Scripts 501–1000|Scripts 1001–1200"));
        for (const qsizetype page : {0, 2}) {
            QMenu &menu = *delegate_->menu()->actions().value(3 + page)->menu();
            menu.popup({});
            QCOMPARE(titles(menu), names.mid(page * 500, 500));
            menu.hide();
        }
        delegate_->menu()->actions().value(5)->menu()->actions().value(100)->trigger();
        QCOMPARE(ran(), QByteArray("script 1100\n"));
    }

    // Where Qt alone leaves the item it selects out of sight: a first Up or Down, one after the
    // wheel. The row's name is its keys, "wheel" scrolling down ten notches.
    void theKeyboardsItemIsOnShow_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::newRow("Up") << QStringLiteral("script 299");
        QTest::newRow("wheel Down") << QStringLiteral("Preferences");
        QTest::newRow("Down wheel Down") << QStringLiteral("Quit ZapRun");
    }

    // 300 scripts on the screen: whatever the keyboard selects is scrolled into view...
    void theKeyboardsItemIsOnShow()
    {
        const QString keys = QString::fromLatin1(QTest::currentDataTag());
        store_->defaults->setStringArray(all_scripts_name, numbered(300));
        QMenu &menu = *delegate_->menu();
        menu.popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        for (const QString &key : keys.split(' ')) {
            if (key == QLatin1String("wheel")) {
                for (int notch = 0; notch < 10; ++notch) {
                    QWheelEvent wheel(menu.rect().center(), menu.mapToGlobal(menu.rect().center()),
                                      {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                                      Qt::NoScrollPhase, false);
                    QCoreApplication::sendEvent(&menu, &wheel);
                }
                continue;
            }
            QTest::keyClick(&menu, QKeySequence::fromString(key)[0].key());
            QAction *item = menu.activeAction();
            QVERIFY2(item && QRect({}, menu.size()).contains(menu.actionGeometry(item)),
                     qPrintable(key + " selects " + menuItemTitle(item)));
            // ... and leaves no empty room below the last item
            QVERIFY(menu.actionGeometry(menu.actions().constLast()).bottom() >= menu.height() - 2);
        }
        QTEST(menuItemTitle(menu.activeAction()), "selected");
        menu.hide();
    }

    void runnerOutcomes_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("alert"); // the "Error!" alert's whole text; null: none
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
        row("stderr, whole and as written, less its last line break",
            "echo ' <b>x</b>' >&2; yes | head -n 5000 >&2; echo >&2; exit 3",
            " <b>x</b>\n" + QString("y\n").repeated(5000));
        row("private file", "stat -c %a \"$0\"" + marker, {}, "600\n");
        row("status", "exit 4", "The script ended with exit status 4.");
        row("signal", "kill -KILL $$", "The script was stopped by signal 9 (Killed).");
        row("no interpreter", "#!/nonexistent/sh\nexit 0",
            "The script could not be started: execvp: No such file or directory "
            "(/nonexistent/sh).");
        // The shell clears its signal mask as it starts; awk keeps what it was given.
        row("awk, its signals at their defaults and none blocked",
            "#!/usr/bin/awk -f\nBEGIN { while ((getline l < \"/proc/self/status\") > 0)\n"
            "if (l ~ /^Sig(Blk|Ign)/) print l > (ENVIRON[\"HOME\"] \"/marker\") }",
            {}, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
        row("shebang argument", "#!/bin/sh -e\nfalse\necho ran" + marker,
            "The script ended with exit status 1.");
        row("syntax error", "echo ran" + marker + "\nif then fi (\n",
            "script: 2: Syntax error: \"then\" unexpected");
        row("huge body", padding + "echo done" + marker, {}, "done\n");
        row("body cut short", "echo ran" + marker + "\n" + padding,
            "The script could not be prepared: File too large.", {}, 64 * 1024);
        row("own session", "[ $(cut -d' ' -f6 /proc/$$/stat) = $$ ] && echo own" + marker, {},
            "own\n");
        row("background child",
            "(until [ -e \"$HOME/free\" ]; do sleep 0.01; done) & echo early" + marker, {},
            "early\n");
    }

    // Only a failure shows the alert, with the whole message; no temporary file is left. Neither
    // ZapRun's signal settings nor what its parent left it reach the script.
    void runnerOutcomes()
    {
        QFETCH(QString, body);
        QFETCH(QString, alert);
        QFETCH(int, fileLimit);
        store_->library({"s"}, {body});
        const ProcessSignals processSignals; // ignores SIGXFSZ, as the program does
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{fileLimit ? rlim_t(fileLimit) : previous.rlim_cur, previous.rlim_max};
        sigset_t usr1;
        sigemptyset(&usr1), sigaddset(&usr1, SIGUSR1);
        ::setrlimit(RLIMIT_FSIZE, &limit), ::signal(SIGQUIT, SIG_IGN);
        ::sigprocmask(SIG_BLOCK, &usr1, nullptr);
        choose(QStringLiteral("s"));
        ::sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
        ::setrlimit(RLIMIT_FSIZE, &previous), ::signal(SIGQUIT, SIG_DFL);
        QCOMPARE(alert_.texts, alert.isNull() ? QStringList() : QStringList{"Error!"});
        QCOMPARE(alert_.informativeTexts.value(0), alert);
        QTEST(ran(), "ran");
        QVERIFY(QDir(home_.path(QStringLiteral("tmp"))).entryList({"zaprun-*"}).isEmpty());
    }

    void aChoiceRunsExactlyItsEntry_data()
    {
        QTest::addColumn<QString>("names");
        QTest::addColumn<int>("chosen");      // the item's place among the scripts when shown
        QTest::addColumn<QString>("changed"); // the names when the choice arrives; null: as shown
        QTest::addColumn<QByteArray>("ran");
        const auto row = [](const char *tag, const QString &names, int chosen, const char *changed,
                            const char *ran) {
            QTest::newRow(tag) << names << chosen << QString::fromUtf8(changed) << QByteArray(ran);
        };
        row("first of two equal names", "twice|twice", 0, nullptr, "0\n");
        row("second of two equal names", "twice|twice", 1, nullptr, "1\n");
        row("canonically equal names", "caf\u00e9|cafe\u0301", 1, nullptr, "1\n");
        row("equal names moved by a change", "a|twice|twice", 2, "twice|twice", "1\n");
        row("a name too long for the screen", "a|" + QString("long, ").repeated(200), 1, nullptr,
            "1\n");
    }

    // Entry i's body writes i; the duplicates stay in the file.
    void aChoiceRunsExactlyItsEntry()
    {
        QFETCH(QString, names);
        QFETCH(int, chosen);
        QFETCH(QString, changed);
        const QStringList bodies{"echo 0" + marker, "echo 1" + marker, "echo 2" + marker};
        const auto store = [&](const QString &names) {
            store_->library(names.split('|'), bodies.mid(0, names.count('|') + 1));
        };
        store(names);
        const QPointer<QAction> item = delegate_->menu()->actions().value(3 + chosen);
        if (!changed.isNull())
            store(changed);
        item->trigger();
        QTEST(ran(), "ran");
        QCOMPARE(store_->names().join('|'), changed.isNull() ? names : changed);
    }

    // The alert's title names its script, on one line and cut short; the dialog's message lines
    // up in a fixed-width font.
    void aMissingBodyIsReportedInAFixedWidthFont()
    {
        const QString orphan = "orphan\n" + QString(60, 'x');
        store_->library({"a", orphan}, {"echo 1 >>$HOME/marker"});
        choose(orphan);
        QCOMPARE(alert_.texts, list("Error!"));
        QCOMPARE(alert_.titles, QStringList({"ZapRun: “orphan " + QString(53, 'x') + "…” failed"}));
        bool fixedPitch = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *alert = QApplication::activeModalWidget();
            fixedPitch = QFontInfo(alert->findChild<QPlainTextEdit *>()->font()).fixedPitch();
            alert->close();
        });
        DialogAlert().run(alert_.titles[0], QStringLiteral("Error!"),
                          QStringLiteral("col 1 | col 2"));
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
