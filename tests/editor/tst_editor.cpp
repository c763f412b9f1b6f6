// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "platform/appstate.h"
#include "testsupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

static const char *const nfc = "caf\u00e9";

static QMimeData *mimeText(const QString &text)
{
    auto *data = new QMimeData;
    data->setText(text);
    return data;
}

class TestEditor : public QObject {
    Q_OBJECT

    static QStringList shownRows(const ViewController &vc)
    {
        QStringList rows;
        for (int row = 0; row < vc.tableView()->model()->rowCount(); ++row)
            rows << vc.tableView()->model()->index(row, 0).data().toString();
        return rows;
    }

    static QString copied(PreviewPopover &popover)
    {
        popover.findChild<QPushButton *>(QStringLiteral("copyBtn"))->click();
        return QGuiApplication::clipboard()->text();
    }

    // The selection as the user sees it: "" when no row looks selected or current, the field is
    // empty and Preview hidden; else the selected rows, the current row, the field and what
    // Preview copies.
    static QString selection(ViewController &vc)
    {
        const QItemSelectionModel &model = *vc.tableView()->selectionModel();
        if (!model.hasSelection() && !model.currentIndex().isValid() &&
            vc.nameFld()->text().isEmpty() && vc.previewBtn()->isHidden())
            return {};
        QStringList seen;
        for (const QModelIndex &row : model.selectedRows())
            seen << row.data().toString();
        seen << model.currentIndex().data().toString() << vc.nameFld()->text();
        if (!vc.previewBtn()->isHidden() && (vc.previewBtn()->click(), true))
            seen << copied(*std::unique_ptr<PreviewPopover>(vc.findChild<PreviewPopover *>()));
        return seen.join('|');
    }

private slots:
    // No widget at launch; "show main" in the store opens the window, which takes the clipboard.
    void showMainOpensTheLazyWindowAndClosingHidesAll()
    {
        TestStore store;
        store.library("one|two", "1|2");
        ViewController vc(*store.defaults);
        QVERIFY(!vc.tableView() && !vc.nameFld());
        QGuiApplication::clipboard()->setText(QStringLiteral("echo early"));
        QSignalSpy changes(store.defaults.get(), &Defaults::didChange);
        store.defaults->setBool(show_main, true);
        QCOMPARE(changes.count(), 2); // the request and the one nested write that clears it
        QTRY_VERIFY_WITH_TIMEOUT(vc.isVisible(), 500);
        QCOMPARE(shownRows(vc), list("one|two"));
        QTRY_COMPARE_WITH_TIMEOUT(vc.clipbStr(), "echo early", 500);
        QWidget other;
        other.show();
        vc.close(); // the hide notification runs the close handler again; that one must stop
        QVERIFY(!vc.isVisible() && !other.isVisible());
        emit AppState::shared().didBecomeActive();
        QVERIFY(vc.isVisible() && other.isVisible()); // what the hide hid comes back
    }

    // After café was taken: what a new clipboard leaves taken, and what the window says Add stores.
    void captureTakesPlainTextOnly_data()
    {
        QTest::addColumn<QMimeData *>("data");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("shown");
        auto *image = new QMimeData;
        image->setImageData(QImage(4, 4, QImage::Format_RGB32));
        auto *links = new QMimeData;
        links->setUrls({QUrl(QStringLiteral("file:///etc/hosts"))});
        const QString before = "The clipboard holds no text; Add stores the text copied before "
                               "(1 line, 5 bytes):\ncaf\u00e9";
        const QString longText = "\u00e9" + QString(100000, 'x');
        QTest::newRow("image") << image << nfc << before;
        QTest::newRow("links") << links << nfc << before;
        QTest::newRow("lines")
            << mimeText("line 1  \r\n\tline 2 \n\n") << "line 1  \r\n\tline 2 \n\n"
            << "Add stores the copied text (3 lines, 20 bytes):\nline 1  \r\n\tline 2 \n…";
        QTest::newRow("long") << mimeText(longText) << longText
                              << "Add stores the copied text (1 line, 97.66 KiB):\n" +
                                     longText.left(80) + "…";
        QTest::newRow("canonically equal")
            << mimeText("cafe\u0301") << nfc
            << "Add stores the copied text (1 line, 5 bytes):\ncaf\u00e9";
        QTest::newRow("empty") << mimeText({}) << QString()
                               << "The copied text is empty: Add stores an empty script.";
    }

    void captureTakesPlainTextOnly()
    {
        QFETCH(QMimeData *, data);
        TestStore store;
        ViewController vc(*store.defaults);
        vc.loadViewIfNeeded();
        QGuiApplication::clipboard()->setText(nfc);
        vc.clipbrdWithTimer();
        QGuiApplication::clipboard()->setMimeData(data);
        emit AppState::shared().didBecomeActive();
        QTEST(vc.clipbStr(), "kept");
        QTEST(vc.findChild<QLabel *>("captureLbl")->text(), "shown");
    }

    // From a store of "names/bodies", steps: "=text" copies text, "+name" and "-name" add and
    // delete ("-" alone as the field stands), "\n" is Return in the name field, "#n" selects row
    // n, "*a|b/A|B" another writer storing these names and bodies.
    void addAndDeleteKeepPairs_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<int>("writes");
        QTest::addColumn<QString>("selection");
        const auto row = [](const char *tag, const char *start, const QStringList &steps,
                            const char *names, const char *bodies, int writes,
                            const char *selection = "") {
            QTest::newRow(tag) << QString(start) << steps << list(names) << list(bodies) << writes
                               << QString(selection);
        };
        row("empty and listed names refused", "a/A",
            {"+", "+first", "=echo A", "+First", "+first ", "+caf\u00e9", "+first", "+cafe\u0301",
             "\n"},
            "a|first|First|first |caf\u00e9", "A||echo A|echo A|echo A", 8, "|cafe\u0301");
        row("fewer bodies", "a|b|c/A", {"=N", "-c", "+d"}, "a|b|d", "A||N", 4, "|d");
        row("more bodies", "a|b/A|B|X", {"=N", "+c", "-a"}, "b|c", "B|N", 4);
        row("a name stored elsewhere", "a/A", {"*a|ghost/A", "+ghost"}, "a|ghost", "A", 2,
            "|ghost");
        row("singletons are their canonical letters", "a|\u212b|\u2126/A|R|O",
            {"=N", "+\u00c5", "+A\u030a", "+\u03a9", "-\u00c5"}, "a|\u2126", "A|O", 2);
        row("an insert elsewhere keeps the selected script", "a|b/A|B", {"#0", "*n|a|b/N|A|B"},
            "n|a|b", "N|A|B", 3, "a|a|a|A");
        row("  whose Delete removes it", "a|b/A|B", {"#0", "*n|a|b/N|A|B", "-"}, "n|b", "N|B", 5);
        row("  or a reorder", "a|b/A|B", {"#0", "*b|a/B|A"}, "b|a", "B|A", 4, "a|a|a|A");
        row("the selected name gone elsewhere", "a|b/A|B", {"#1", "*a/A"}, "a", "A", 3, "|b");
        row("deleting another selects none", "a|b|c/A|B|C", {"#1", "-c"}, "a|b", "A|B", 3);
        row("of equal names the selected one goes", "x|x/1|2", {"#1", "-"}, "x", "1", 3);
    }

    void addAndDeleteKeepPairs()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, steps);
        TestStore store;
        store.library(start.section('/', 0, 0).split('|'), start.section('/', 1).split('|'));
        ViewController vc(*store.defaults);
        QGuiApplication::clipboard()->setMimeData(new QMimeData);
        QSignalSpy writes(store.defaults.get(), &Defaults::didChange);
        for (const QString &step : steps) {
            vc.clipbrdWithTimer();
            if (step.startsWith('='))
                QGuiApplication::clipboard()->setText(step.mid(1));
            else if (step.startsWith('*'))
                store.defaults->setStringArrays(
                    {{all_scripts_name, step.mid(1).section('/', 0, 0).split('|')},
                     {all_scripts, step.section('/', 1).split('|')}});
            else if (step == "\n")
                QTest::keyClick(vc.nameFld(), Qt::Key_Return);
            else if (step.startsWith('#') && (vc.loadViewIfNeeded(), true))
                vc.tableView()->selectRow(step.mid(1).toInt());
            else { // "-" alone deletes what the field holds
                vc.loadViewIfNeeded();
                if (step != "-")
                    vc.nameFld()->setText(step.mid(1));
                vc.findChild<QPushButton *>(step.startsWith('+') ? "addBtn" : "delBtn")->click();
            }
        }
        QTEST(store.names(), "names");
        QTEST(store.bodies(), "bodies");
        QTEST(int(writes.count()), "writes");
        QTEST(shownRows(vc), "names"); // the table shows the file
        QTEST(selection(vc), "selection");
    }

    // The selected body, whatever is typed into the read-only view; one line of 20 MB, a surrogate
    // pair where the view would break it. (Each break kept exactly: previewShowsEveryLineBreak.)
    // On a dark theme the popup's edge still stands out from its background.
    void previewShowsAndCopiesTheSelectedBody()
    {
        const QString huge = QString(4095, 'a') + QStringLiteral("\U0001F600") +
                             QString(20 * 1000 * 1000, 'z') + QStringLiteral("\r\nend");
        TestStore store;
        store.library(list("old|huge"), {"echo old", huge});
        PreviewPopover typedInto(*store.defaults);
        typedInto.txtView->moveCursor(QTextCursor::End);
        QTest::keyClicks(typedInto.txtView, QStringLiteral(" new"));
        QCOMPARE(typedInto.txtView->toPlainText(), "echo old");
        QCOMPARE(copied(typedInto), "echo old");
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
        typedInto.setPalette(dark);
        const QImage shot = typedInto.grab().toImage();
        const int middle = shot.height() / 2;
        QVERIFY(qAbs(shot.pixelColor(0, middle).lightness() -
                     shot.pixelColor(4, middle).lightness()) > 100);
        store.defaults->setInteger(sel_script, 1);
        PreviewPopover big(*store.defaults);
        big.show();
        QVERIFY(QTest::qWaitForWindowExposed(&big));
        QVERIFY(big.txtView->toPlainText().startsWith(huge.left(4097) + '\n'));
        QVERIFY(copied(big) == huge);
        for (const qint64 outside : {qint64(2), qint64(-1), qint64(1) << 40}) {
            store.defaults->setInteger(sel_script, outside);
            QCOMPARE(PreviewPopover(*store.defaults).txtView->toPlainText(), QString());
        }
    }

    // Each break as stored: CR LF, CR and the separators start a line of their own, and the copy
    // is the body; a line past the piece length is shown in pieces, with no empty line added.
    void previewShowsEveryLineBreak_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("shown");
        const QString crLines = QString(100, 'x').append('\r').repeated(50);
        const QString piece(4096, 'y');
        QTest::newRow("CR LF, separators, no-break space")
            << "a\u00a0\r\nb\u2028c\u2029d\r\n"
            << "a \nb\nc\nd\n"; // the copy keeps the no-break space
        QTest::newRow("CR alone, past a piece") << crLines << QString(crLines).replace('\r', '\n');
        QTest::newRow("two pieces, CR LF")
            << piece + piece + "\r\nz" << piece + '\n' + piece + "\nz";
    }

    void previewShowsEveryLineBreak()
    {
        QFETCH(QString, body);
        TestStore store;
        store.defaults->setStringArrays({{all_scripts_name, {"s"}}, {all_scripts, {body}}});
        PreviewPopover popover(*store.defaults);
        QTEST(popover.txtView->toPlainText(), "shown");
        QCOMPARE(copied(popover), body);
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
