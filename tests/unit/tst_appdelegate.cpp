#include "app/appdelegate.h"
#include "platform/appstate.h"
#include "platform/menuitem.h"
#include "platform/processsignals.h"
#include "platform/trayicon.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Alert {
    QString text;
    QString informativeText;
    QStringList buttons;
    QByteArray markerAtThatMoment;
};

// Each item of the menu as the user sees it, separators as "---".
QStringList titles(const QMenu &menu)
{
    QStringList result;
    for (const QAction *item : menu.actions())
        result << (item->isSeparator() ? QStringLiteral("---") : menuItemTitle(item));
    return result;
}

// The script names a user can reach, through submenus too, in menu order.
QStringList reachableNames(const QMenu &menu, qsizetype skip = 3)
{
    QStringList names;
    for (const QAction *item : menu.actions().mid(skip))
        names += item->menu() ? reachableNames(*item->menu(), 0) : QStringList{menuItemTitle(item)};
    return names;
}

// Every item lies within the menu's width, and within its height unless the menu scrolls; the
// menu's size fits the screen (the offscreen platform shifts popups by a frame it never draws).
bool popsUpWithinTheScreen(QMenu &menu)
{
    menu.popup(QPoint(0, 0));
    const QSize room = menu.screen()->availableGeometry().size();
    bool fits = QTest::qWaitForWindowExposed(&menu) && menu.width() <= room.width() &&
                menu.height() <= room.height();
    const bool scrolls = menu.style()->styleHint(QStyle::SH_Menu_Scrollable, nullptr, &menu);
    for (QAction *item : menu.actions()) {
        const QRect place = menu.actionGeometry(item);
        fits = fits && place.right() < menu.width() && (scrolls || place.bottom() < menu.height());
    }
    menu.hide();
    return fits;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::unique_ptr<Defaults> defaults_;
    std::unique_ptr<AppDelegate> delegate_;

    QString marker() const { return home_.filePath(QStringLiteral("marker")); }

    void storeLibrary(const QStringList &names, const QStringList &bodies)
    {
        defaults_->setStringArray(all_scripts_name, names);
        defaults_->setStringArray(all_scripts, bodies);
    }

    QAction *itemTitled(const QString &title)
    {
        const QList<QAction *> items = delegate_->menu()->actions();
        const auto found = std::find_if(items.begin(), items.end(),
                                        [&](QAction *a) { return menuItemTitle(a) == title; });
        return found == items.end() ? nullptr : *found;
    }

    // Chooses the item and answers every alert it raises with "Ok", noting what each showed.
    QList<Alert> choose(const QString &title)
    {
        QList<Alert> alerts;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            const auto *text = box->findChild<QLabel *>(QStringLiteral("text"));
            const auto *info = box->findChild<QPlainTextEdit *>(QStringLiteral("informativeText"));
            Alert alert{text ? text->text() : QString(),
                        info ? info->toPlainText() : QString(),
                        {},
                        readAll(marker())};
            const QList<QAbstractButton *> buttons = box->findChildren<QAbstractButton *>();
            for (QAbstractButton *button : buttons)
                alert.buttons << button->text();
            alerts << alert;
            buttons.first()->click();
        });
        watcher.start(5);
        QAction *item = itemTitled(title);
        if (item)
            item->trigger();
        return alerts;
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("TMPDIR", QFile::encodeName(home_.filePath(QStringLiteral("tmp"))));
        QDir().mkpath(home_.filePath(QStringLiteral("tmp")));
    }

    void init()
    {
        QFile::remove(marker());
        QFile::remove(home_.filePath(QStringLiteral("defaults.json")));
        defaults_ = std::make_unique<Defaults>(home_.filePath(QStringLiteral("defaults.json")));
        delegate_ = std::make_unique<AppDelegate>(*defaults_);
        delegate_->applicationDidFinishLaunching();
    }

    void cleanup()
    {
        delegate_.reset();
        defaults_.reset();
    }

    void menuFollowsTheLibraryThroughItsLife()
    {
        const QStringList fixed = {QStringLiteral("Preferences"), QStringLiteral("Quit ZapRun"),
                                   QStringLiteral("---")};
        QCOMPARE(titles(*delegate_->menu()), fixed);
        QCOMPARE(delegate_->statusItem().contextMenu(), delegate_->menu());
        QCOMPARE(itemTitled(QStringLiteral("Quit ZapRun"))->shortcut(),
                 QKeySequence(QKeySequence::Quit));

        // No library yet: a change of another key leaves the launch menu alone.
        QMenu *launchMenu = delegate_->menu();
        delegate_->showMainView();
        QCOMPARE(defaults_->boolForKey(show_main), true);
        QCOMPARE(delegate_->menu(), launchMenu);
        QCOMPARE(titles(*delegate_->menu()), fixed);

        // The first of the two writes of an addition already shows the new name.
        defaults_->setStringArray(all_scripts_name,
                                  {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QCOMPARE(titles(*delegate_->menu()), fixed + QStringList({"a", "b", "c"}));
        defaults_->setStringArray(all_scripts_name, {QStringLiteral("a"), QStringLiteral("c")});
        QCOMPARE(titles(*delegate_->menu()), fixed + QStringList({"a", "c"}));
        QCOMPARE(delegate_->menu(), launchMenu);
        defaults_->setStringArray(all_scripts_name, {});
        QCOMPARE(titles(*delegate_->menu()), fixed);
    }

    void menuShowsOddNamesExactly()
    {
        const QStringList odd = {QStringLiteral(" lead and trail "),
                                 QStringLiteral("Tom & Jerry"),
                                 QStringLiteral("<b>bold</b>"),
                                 QStringLiteral("tab\there"),
                                 QStringLiteral("\u05e9\u05dc\u05d5\u05dd e\u0301"),
                                 QString()};
        storeLibrary(odd, QStringList(odd.size(), QString()));
        QCOMPARE(titles(*delegate_->menu()).mid(3), odd);
        // What is drawn keeps the ampersand and puts no tab into the shortcut column.
        QCOMPARE(itemTitled(QStringLiteral("Tom & Jerry"))->text(), QStringLiteral("Tom && Jerry"));
        QVERIFY(!itemTitled(QStringLiteral("tab\there"))->text().contains(QLatin1Char('\t')));
    }

    // Ten thousand names: every one can be reached, and no menu leaves the screen.
    void aHugeLibraryStaysOnTheScreen()
    {
        QStringList names;
        for (int i = 0; i < 10000; ++i)
            names << QStringLiteral("script number %1").arg(i);
        defaults_->setStringArray(all_scripts_name, names);
        delegate_->constructMenu();
        QCOMPARE(reachableNames(*delegate_->menu()), names);
        QVERIFY(popsUpWithinTheScreen(*delegate_->menu()));
        for (QAction *item : delegate_->menu()->actions())
            QVERIFY(!item->menu() || popsUpWithinTheScreen(*item->menu()));

        names.removeAt(4321);
        names << QStringLiteral("last");
        defaults_->setStringArray(all_scripts_name, names);
        QCOMPARE(reachableNames(*delegate_->menu()), names);
        names = names.mid(0, 10) + names.mid(8000, 1200) + names.mid(10);
        defaults_->setStringArray(all_scripts_name, names);
        QCOMPARE(reachableNames(*delegate_->menu()), names);
        for (QAction *item : delegate_->menu()->actions())
            QVERIFY(!item->menu() || popsUpWithinTheScreen(*item->menu()));
        names = names.mid(9000, 3);
        defaults_->setStringArray(all_scripts_name, names);
        QCOMPARE(titles(*delegate_->menu()).mid(3), names);
    }

    void choosingAScriptRunsItsBodyQuietly()
    {
        storeLibrary({"one", "two", "three"},
                     {"echo 1 > \"$HOME/marker\"", "echo 2 > \"$HOME/marker\"",
                      "pwd > \"$HOME/marker\"; cat >> \"$HOME/marker\"; echo text result"});
        QCOMPARE(choose(QStringLiteral("three")).size(), 0);
        QCOMPARE(readAll(marker()), QDir::homePath().toUtf8() + "\n");
    }

    void failuresShowOneAlertWithTheMessage_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("stderr and status") << "echo boom >&2; exit 3"
                                           << "boom";
        QTest::newRow("markup stays text") << "printf '<b>x</b>\\n\\n' >&2; exit 1"
                                           << "<b>x</b>\n";
        QString lines;
        for (int line = 1; line <= 5000; ++line)
            lines += QString::number(line) + QLatin1Char('\n');
        lines.chop(1);
        QTest::newRow("long, all of it") << "seq 1 5000 >&2; exit 1" << lines;
        QTest::newRow("status alone") << "exit 4"
                                      << "The script ended with exit status 4.";
        QTest::newRow("signal") << "kill -KILL $$"
                                << "The script was stopped by signal 9 (Killed).";
        QTest::newRow("missing interpreter") << "#!/nonexistent/shell\necho hi"
                                             << "The script could not be started: ";
        QTest::newRow("shebang with argument") << "#!/bin/sh -e\nfalse\necho ran > \"$HOME/marker\""
                                               << "The script ended with exit status 1.";
    }

    void failuresShowOneAlertWithTheMessage()
    {
        QFETCH(QString, body);
        QFETCH(QString, message);
        storeLibrary({QStringLiteral("s")}, {body});
        QSignalSpy becameActive(&AppState::shared(), &AppState::didBecomeActive);
        const QList<Alert> alerts = choose(QStringLiteral("s"));
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0].text, QStringLiteral("Error!"));
        QVERIFY2(alerts[0].informativeText.startsWith(message),
                 qPrintable(alerts[0].informativeText));
        QCOMPARE(alerts[0].buttons, QStringList({QStringLiteral("Ok")}));
        QVERIFY(!QFile::exists(marker()));
        // The alert taking the focus is not the user switching to ZapRun.
        QCOMPARE(becameActive.count(), 0);
    }

    void aSyntaxErrorRunsNothingOfTheBody()
    {
        storeLibrary({QStringLiteral("broken")},
                     {QStringLiteral("echo ran > \"$HOME/marker\"\nif then fi (\n")});
        const QList<Alert> alerts = choose(QStringLiteral("broken"));
        QCOMPARE(alerts.size(), 1);
        QVERIFY2(alerts[0].informativeText.contains(QLatin1String("rror")),
                 qPrintable(alerts[0].informativeText));
        QVERIFY(!alerts[0].informativeText.contains(home_.path())); // no temporary path shown
        QVERIFY(!QFile::exists(marker()));
    }

    void bodiesOfAnySizeRunAndLeaveNoTemporaryFile()
    {
        const QString tmp = home_.filePath(QStringLiteral("tmp"));
        QString big;
        while (big.size() < 1024 * 1024)
            big += QStringLiteral(": padding line that the shell reads and ignores\n");
        storeLibrary({"big", "fails"}, {big + "echo done > \"$HOME/marker\"", "exit 1"});
        QCOMPARE(choose(QStringLiteral("big")).size(), 0);
        QCOMPARE(readAll(marker()), QByteArray("done\n"));
        QCOMPARE(choose(QStringLiteral("fails")).size(), 1);
        QCOMPARE(QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void aBackgroundChildDoesNotHoldTheRun()
    {
        storeLibrary({QStringLiteral("bg")},
                     {QStringLiteral("sleep 60 & echo $! > \"$HOME/marker\"; echo started")});
        QCOMPARE(choose(QStringLiteral("bg")).size(), 0);
        const pid_t child = readAll(marker()).trimmed().toInt();
        QVERIFY(child > 0);
        QCOMPARE(::kill(child, 0), 0); // still running: the run did not wait for it
        ::kill(child, SIGKILL);
    }

    void aScriptRunsInASessionOfItsOwn()
    {
        storeLibrary({QStringLiteral("ids")},
                     {QStringLiteral("awk '{print $5, $6}' /proc/$$/stat > \"$HOME/marker\"")});
        QCOMPARE(choose(QStringLiteral("ids")).size(), 0);
        const QList<QByteArray> ids = readAll(marker()).trimmed().split(' ');
        QCOMPARE(ids.size(), 2);
        QVERIFY(ids[0].toInt() != ::getpgrp()); // what it signals to its group misses us
        QVERIFY(ids[1].toInt() != ::getsid(0));
    }

    void aBodyCutShortRunsNothing()
    {
        const ProcessSignals processSignals; // ignores SIGXFSZ, as the program does
        const QString tmp = home_.filePath(QStringLiteral("tmp"));
        QString body = QStringLiteral("echo ran > \"$HOME/marker\"\n");
        while (body.size() < 256 * 1024)
            body += QStringLiteral(": a padding line that the shell reads and ignores\n");
        storeLibrary({QStringLiteral("big")}, {body});
        rlimit previous{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const rlimit small{64 * 1024, previous.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const QList<Alert> alerts = choose(QStringLiteral("big"));
        ::setrlimit(RLIMIT_FSIZE, &previous);
        QCOMPARE(alerts.size(), 1);
        QVERIFY2(alerts[0].informativeText.startsWith(
                     QLatin1String("The script could not be prepared: File too large")),
                 qPrintable(alerts[0].informativeText));
        QVERIFY(!QFile::exists(marker()));
        QCOMPARE(QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    // Clicks, keys and menu choices made while a script runs reach nothing, then or later;
    // meanwhile the tray icon shows the running state and names the script.
    void duringARunInputIsDroppedAndTheIconTellsWhatRuns()
    {
        const QString go = home_.filePath(QStringLiteral("go"));
        storeLibrary({"waits", "other"},
                     {"echo started > \"$HOME/marker\"; while [ ! -e \"$HOME/go\" ]; do sleep "
                      "0.01; done",
                      "echo other >> \"$HOME/marker\""});
        QPushButton button;
        button.show();
        QSignalSpy clicks(&button, &QPushButton::clicked);
        const QImage idleIcon = delegate_->statusItem().icon().pixmap(32).toImage();
        QString toolTipMeanwhile;
        QImage iconMeanwhile;
        QTimer during;
        connect(&during, &QTimer::timeout, this, [&] {
            if (readAll(marker()) != "started\n")
                return;
            during.stop();
            toolTipMeanwhile = delegate_->statusItem().toolTip();
            iconMeanwhile = delegate_->statusItem().icon().pixmap(32).toImage();
            QTest::mouseClick(&button, Qt::LeftButton);
            QTest::keyClick(&button, Qt::Key_Space);
            itemTitled(QStringLiteral("other"))->trigger();
            emit delegate_->statusItem().activated(QSystemTrayIcon::Trigger); // a host's click
            QFile(go).open(QIODevice::WriteOnly);
        });
        during.start(5);
        QCOMPARE(choose(QStringLiteral("waits")).size(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
        QVERIFY(!delegate_->menu()->isVisible());
        QCOMPARE(readAll(marker()), QByteArray("started\n"));
        QCOMPARE(toolTipMeanwhile, QStringLiteral("zR: running “waits”"));
        QVERIFY(iconMeanwhile != idleIcon);
        QCOMPARE(delegate_->statusItem().toolTip(), QStringLiteral("zR"));
        QCOMPARE(delegate_->statusItem().icon().pixmap(32).toImage(), idleIcon);
        QFile::remove(go);
    }

    void duplicateNamesRunInOrderAndMissingBodiesAreReported()
    {
        storeLibrary({"twice", "twice", "orphan"},
                     {"echo 1 >> \"$HOME/marker\"; exit 1", "echo 2 >> \"$HOME/marker\""});
        const QList<Alert> alerts = choose(QStringLiteral("twice"));
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0].markerAtThatMoment,
                 QByteArray("1\n")); // dismissed before the second ran
        QCOMPARE(readAll(marker()), QByteArray("1\n2\n"));

        const QList<Alert> orphan = choose(QStringLiteral("orphan"));
        QCOMPARE(orphan.size(), 1);
        QCOMPARE(orphan[0].text, QStringLiteral("Error!"));
    }

    void reopenBringsTheFirstWindowBack()
    {
        QVERIFY(delegate_->applicationShouldHandleReopen(false)); // no window at all
        QWidget window;
        AppState::shared().setMainWindow(&window);
        QVERIFY(delegate_->applicationShouldHandleReopen(false));
        QVERIFY(window.isVisible());
        QVERIFY(delegate_->applicationShouldHandleReopen(true));
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
